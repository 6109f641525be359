#!/usr/bin/env bash
# Packs the bundled sample tree, lists the archive, extracts it again and
# compares the result with the original; then extracts the two bundled
# archives (one stored, one compressed) the same way.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/$build
work=$root/build/demo
rm -rf "$work"
mkdir -p "$work/out" "$work/bundled" "$work/bundled-compressed"

step() { printf '\n== %s\n' "$*"; }

step "TukPack sample/tree sample $work/sample.tuk"
(cd "$root" && "$bin/pack/TukPack" sample/tree sample "$work/sample.tuk")

step "tuk list $work/sample.tuk"
"$bin/tuk/tuk" list "$work/sample.tuk"

step "tukUnpack $work/sample.tuk $work/out"
"$bin/unpack/tukUnpack" "$work/sample.tuk" "$work/out" | tail -n 1

compare() {
  if diff -r "$root/sample/tree" "$1/sample" >/dev/null; then
    echo "OK: $1/sample matches sample/tree"
  else
    echo "MISMATCH: $1/sample differs from sample/tree" >&2
    exit 1
  fi
}

step "Comparing the extracted tree with the original"
compare "$work/out"

for archive in sample.tuk sample-compressed.tuk; do
  dest=$work/bundled
  [ "$archive" = sample-compressed.tuk ] && dest=$work/bundled-compressed
  step "tukUnpack sample/$archive $dest"
  "$bin/unpack/tukUnpack" "$root/sample/$archive" "$dest" | tail -n 1
  compare "$dest"
done

step "Demo finished: every archive round-tripped exactly."
