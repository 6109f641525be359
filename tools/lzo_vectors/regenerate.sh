#!/bin/sh
# Rebuilds the generator and rewrites every file in tests/fixtures/lzo/.
# Needs g++, python3 and liblzo2-dev. Run from anywhere.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../../tests/fixtures/lzo"
build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT

g++ -std=c++17 -O2 -Wall -Wextra -Wpedantic -o "$build/lzo_vectors" \
  "$here/lzo_vectors.cpp" -llzo2
mkdir -p "$fixtures"
rm -f "$fixtures"/*
python3 "$here/make_originals.py" "$fixtures"
cd "$fixtures"
# Only text.txt has a short last segment worth compressing against the
# segment before it, so only it gets the lzo999dict form.
"$build/lzo_vectors" --dict text.txt
"$build/lzo_vectors" binary.bin run.bin tiny.txt one.bin \
  first_run_18.bin first_run_19.bin
