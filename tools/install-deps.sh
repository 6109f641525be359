#!/bin/sh
# Installs the Debian packages of the given groups of tools/packages.txt
# that are missing, and nothing else: it never removes a package, upgrades
# one only when TUK_ALLOW_UPGRADE=1 (a plan that would otherwise is
# refused), and prints nothing when all are there.
#
#   tools/install-deps.sh [GROUP...]    default: build optional test
#
# As root it runs apt-get itself, otherwise through sudo when there is one;
# without either it prints the one apt-get line to run and exits 2.
# TUK_MINIMAL=1 leaves out the optional group (tuk mount and tuk convert).
# On a system without apt it only names what to install.
set -eu

list="$(cd "$(dirname "$0")" && pwd)/packages.txt"
me=install-deps
[ $# -gt 0 ] || set -- build optional test

wanted=
for group in "$@"; do
  [ "$group" = optional ] && [ "${TUK_MINIMAL:-0}" = 1 ] && continue
  packages=$(sed -n "s/^$group:[[:space:]]*//p" "$list" | tr '\n' ' ')
  if [ -z "$packages" ]; then
    echo "$me: no group '$group' in $list" >&2
    exit 2
  fi
  wanted="$wanted $packages"
done

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "$me: not a Debian system; this build wants these packages or their like:" \
       "$(echo $wanted | tr ' ' '\n' | sort -u | tr '\n' ' ')" >&2
  exit 0
fi

missing=
for package in $wanted; do
  case " $missing " in *" $package "*) continue ;; esac
  installed "$package" || missing="$missing $package"
done
missing=${missing# }
[ -n "$missing" ] || exit 0

if [ "$(id -u)" = 0 ]; then
  as_root=
elif command -v sudo >/dev/null 2>&1; then
  as_root=sudo
else
  echo "$me: these packages are missing; as root, run:" >&2
  echo "  apt-get install $missing" >&2
  exit 2
fi

export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update -qq
# Only new packages: a plan that removes a package is refused, and so is one
# that upgrades an installed package (as a new one may need a newer point
# release of a library) unless TUK_ALLOW_UPGRADE=1, since other work on
# this machine may rely on what is installed.
# shellcheck disable=SC2086
plan=$($as_root apt-get install -s --no-remove $missing) || exit 2
removals=$(echo "$plan" | grep '^Remv ' || true)
upgrades=$(echo "$plan" | grep -E '^Inst [^ ]+ \[' || true)
if [ -n "$removals" ] || { [ -n "$upgrades" ] && [ "${TUK_ALLOW_UPGRADE:-0}" != 1 ]; }; then
  echo "$me: installing $missing would change installed packages:" >&2
  printf '%s\n' "$removals" "$upgrades" | sed '/^$/d' >&2
  [ -n "$removals" ] || echo "$me: TUK_ALLOW_UPGRADE=1 lets apt-get upgrade them" >&2
  echo "$me: nothing was installed" >&2
  exit 2
fi
echo "$me: installing $missing" >&2
# shellcheck disable=SC2086
$as_root apt-get install -y -qq --no-remove $missing >/dev/null
