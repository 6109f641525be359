#!/bin/sh
# The install leg of CI. Installs a built tree into a temporary prefix,
# builds examples/ against the installed package with CMake and with
# pkg-config and runs both on an archive the installed TukPack makes of
# sample/tree; lints the man pages; checks the bash completion; makes the
# .deb and, from the Windows build, the .zip, lists both, installs the .deb
# and runs tuk from it (then removes it again).
#
#   tools/ci_install.sh [NATIVE_BUILD [MINGW_BUILD]]
#
# NATIVE_BUILD defaults to build/release and MINGW_BUILD to build/mingw,
# both used as they are built; without a Windows build there is no .zip.
# Installing the .deb needs root. Exits non-zero when any check fails.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$root/build/release}
mingw=${2:-$root/build/mingw}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
version=$(sed -nE 's/^project\(tuk VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
started=$(date +%s)

step() { echo "== $* ($(( $(date +%s) - started ))s)"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

step "Install into a temporary prefix"
cmake --build "$native" -j2 >/dev/null
cmake --install "$native" --prefix "$prefix" >/dev/null
for file in bin/tuk bin/TukPack bin/tukUnpack include/tuk/tuk.h lib/libtukarchive.a \
            lib/cmake/tuk/tukConfig.cmake lib/pkgconfig/tuk.pc share/man/man1/tuk.1 \
            share/man/man1/TukPack.1 share/man/man1/tukUnpack.1 \
            share/bash-completion/completions/tuk; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
(cd "$work" && "$prefix/bin/TukPack" "$root/sample/tree" sample sample.tuk >/dev/null) ||
  fail "the installed TukPack"
"$prefix/bin/tuk" verify "$work/sample.tuk" >/dev/null || fail "the installed tuk"

step "The example, built against the installed package with find_package(tuk)"
flags="-Wall -Wextra -Wpedantic -Werror"
cmake -S "$root/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/list_and_read" "$work/sample.tuk" >"$work/cmake.out" ||
  fail "list_and_read (CMake)"
tail -n 1 "$work/cmake.out"

step "The example, built against the installed package with pkg-config"
# shellcheck disable=SC2046,SC2086
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" sh -c \
  'c++ -std=c++17 '"$flags"' "$1" -o "$2" $(pkg-config --cflags --libs tuk)' \
  sh "$root/examples/list_and_read.cpp" "$work/list_and_read"
"$work/list_and_read" "$work/sample.tuk" >"$work/pkg-config.out" ||
  fail "list_and_read (pkg-config)"
cmp -s "$work/cmake.out" "$work/pkg-config.out" || fail "the two examples differ"
grep -q "^mode 0, $(find "$root/sample/tree" -type f | wc -l) entries" "$work/cmake.out" ||
  fail "the example did not list every file of sample/tree"

step "Man pages"
mandoc -T lint -W warning "$prefix"/share/man/man1/*.1

step "bash completion of entry names"
# shellcheck disable=SC2016
names=$(cd "$work" && PATH="$prefix/bin:$PATH" bash -c '
  . /usr/share/bash-completion/bash_completion
  . "$1/share/bash-completion/completions/tuk"
  COMP_WORDS=(tuk extract -C out sample.tuk sample/g); COMP_CWORD=5
  COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
  _tuk tuk sample/g sample.tuk
  printf "%s\n" "${COMPREPLY[@]}"' bash "$prefix" | sort)
[ "$names" = "$(printf "sample/gfx/icons/ok.png\nsample/gfx/logo.png")" ] || fail "completion gave [$names]"

step "The .deb"
cpack --config "$native/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/tuk_*.deb)
dpkg -c "$deb" >"$work/deb.list"
for file in usr/bin/tuk usr/bin/TukPack usr/bin/tukUnpack usr/include/tuk/tuk.h \
            usr/lib/libtukarchive.a usr/lib/pkgconfig/tuk.pc usr/share/man/man1/tuk.1 \
            usr/share/bash-completion/completions/tuk; do
  grep -q " \./$file\$" "$work/deb.list" || fail "not in the .deb: $file"
done
dpkg -f "$deb" Depends | grep -q libstdc++ || fail "the .deb declares no dependencies"
echo "Depends: $(dpkg -f "$deb" Depends)"
# tuk convert loads libarchive when it runs, so the .deb names it apart.
if grep -q "^TUK_LIBARCHIVE_SONAME:" "$native/CMakeCache.txt"; then
  dpkg -f "$deb" Recommends | grep -q libarchive || fail "the .deb does not recommend libarchive"
  echo "Recommends: $(dpkg -f "$deb" Recommends)"
fi
if [ "$(id -u)" = 0 ]; then
  dpkg -i "$deb" >/dev/null
  installed=$(/usr/bin/tuk --version) || true
  dpkg -r tuk >/dev/null
  [ "$installed" = "tuk $version" ] || fail "tuk --version from the .deb said [$installed]"
  echo "$installed"
else
  echo "not root: the .deb is not installed"
fi

step "The Windows .zip"
if [ -f "$mingw/CPackConfig.cmake" ]; then
  cpack --config "$mingw/CPackConfig.cmake" -G ZIP -B "$work/zip" >/dev/null
  zip=$(ls "$work"/zip/tuk-*.zip)
  unzip -l "$zip" >"$work/zip.list"
  for file in tuk.exe TukPack.exe tukUnpack.exe README.md; do
    grep -q "/$file\$" "$work/zip.list" || fail "not in the .zip: $file"
  done
  echo "$(basename "$zip"): $(unzip -Z1 "$zip" | grep -vc '/$') files"
else
  echo "no Windows build in $mingw: no .zip"
fi

step "Install checks passed"
