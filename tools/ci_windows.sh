#!/bin/sh
# The Windows leg of CI: cross-builds the Windows programs, runs the
# end-to-end tests against them under Wine, and checks that the Linux and
# the Windows TukPack make the same archive of the sample tree (and tuk
# the same compressed one).
#
#   tools/ci_windows.sh
#
# Environment (all optional):
#   TUK_NATIVE_BUILD  native build with the test binary (build/release, the
#                     one `make test` builds, so after it nothing is rebuilt);
#                     an existing build directory is used as it is configured
#   TUK_SKIP_INSTALL  set to 1 to fail instead of installing missing packages
#
# Exits non-zero when any step fails.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mingw="$root/build/mingw"
native="${TUK_NATIVE_BUILD:-$root/build/release}"
wine=/usr/lib/wine/wine64
compiler=x86_64-w64-mingw32-g++-posix
started=$(date +%s)

step() { echo "== $* ($(( $(date +%s) - started ))s)"; }

step "Tools"
if [ "${TUK_SKIP_INSTALL:-0}" = 1 ]; then
  if ! command -v "$compiler" >/dev/null 2>&1 || [ ! -x "$wine" ]; then
    echo "missing $compiler or $wine" >&2
    exit 1
  fi
else
  # The cross compiler, Wine, and the CLI11 and xxHash headers tuk.exe
  # compiles in.
  TUK_ALLOW_UPGRADE=${TUK_ALLOW_UPGRADE:-1} "$root/tools/install-deps.sh" windows
fi

step "Cross build"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
for exe in unpack/tukUnpack.exe pack/TukPack.exe tuk/tuk.exe; do
  [ -e "$mingw/$exe" ] || continue
  # Statically linked: nothing but system DLLs may be imported.
  if x86_64-w64-mingw32-objdump -p "$mingw/$exe" | grep 'DLL Name' |
     grep -viqE 'kernel32|msvcrt|advapi32|user32|shell32|ucrtbase|api-ms-win'; then
    echo "$exe needs a DLL that does not come with Windows" >&2
    exit 1
  fi
done

step "Native build"
if [ ! -f "$native/CMakeCache.txt" ]; then
  if [ "$native" = "$root/build/release" ]; then
    cmake --preset release -DTUK_WERROR=ON >/dev/null
  else
    cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release -DTUK_WERROR=ON \
      -DTUK_BUILD_BENCH=OFF >/dev/null
  fi
fi
cmake --build "$native" -j2 --target tuk_tests

step "Wine"
. "$root/tools/wine_prefix.sh"
# One server for everything below; stopped on every way out.
if wineserver -p; then
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  trap 'exit 130' INT TERM
fi

step "End-to-end tests under Wine"
failed=0
TUK_TESTS="$native/tests/tuk_tests" TUK_MINGW_DIR="$mingw" \
  timeout 300 "$root/tests/run_windows_e2e.sh" || failed=1

step "Sample tree packed by both builds"
work="$mingw/sample-check"
rm -rf "$work"
mkdir -p "$work"
tree="$root/sample/tree"
if [ ! -d "$tree" ]; then
  # A tree of its own: nested directories, names whose order depends on
  # case folding, an empty file and directory, and files of many sizes.
  tree="$work/tree"
  mkdir -p "$tree/Objects/Vehicles/Land" "$tree/menu/gfx" "$tree/sound" "$tree/empty dir"
  printf 'z' >"$tree/Zeta.txt"
  printf 'a' >"$tree/alpha.TXT"
  printf 'u' >"$tree/_under"
  : >"$tree/empty"
  printf 'name=value\r\n' >"$tree/menu/Menu.con"
  perl -e 'srand(1); print map { chr int rand 256 } 1 .. 300000' >"$tree/sound/a.wav"
  perl -e 'print "abcd" x 50000' >"$tree/Objects/Vehicles/Land/Objects.con"
  perl -e 'srand(2); print map { chr int rand 256 } 1 .. 4099' >"$tree/menu/gfx/b c.dds"
  i=0
  while [ $i -lt 40 ]; do
    head -c $((i * 37)) "$tree/sound/a.wav" >"$tree/menu/gfx/tile$i.dds"
    i=$((i + 1))
  done
fi
(cd "$work" && "$native/pack/TukPack" "$tree" sample linux.tuk >/dev/null) || failed=1
windows_tree="Z:$(echo "$tree" | tr / '\\')"
(cd "$work" && "$wine" "$mingw/pack/TukPack.exe" "$windows_tree" 'sample\' windows.tuk >/dev/null) || failed=1
if cmp "$work/linux.tuk" "$work/windows.tuk"; then
  echo "archives identical: $(wc -c <"$work/linux.tuk") bytes"
else
  echo "the Linux and the Windows TukPack made different archives" >&2
  failed=1
fi
# The compressed archives of tuk, whatever the thread count, too.
(cd "$work" && "$native/tuk/tuk" pack "$tree" sample linux9.tuk -9 -j 1) || failed=1
(cd "$work" && "$wine" "$mingw/tuk/tuk.exe" pack "$windows_tree" sample windows9.tuk -9 -j 4) ||
  failed=1
if cmp "$work/linux9.tuk" "$work/windows9.tuk"; then
  echo "compressed archives identical: $(wc -c <"$work/linux9.tuk") bytes"
else
  echo "the Linux and the Windows tuk made different compressed archives" >&2
  failed=1
fi
# And the Windows tukUnpack gives the files back (directories without
# files are not archived).
files() { (cd "$1" && find . -type f -exec md5sum {} + | sort -k2); }
mkdir -p "$work/out"
(cd "$work" && "$wine" "$mingw/unpack/tukUnpack.exe" linux.tuk out >/dev/null) || failed=1
files "$tree" >"$work/tree.md5"
files "$work/out/sample" >"$work/out.md5" 2>/dev/null || true
if ! cmp -s "$work/tree.md5" "$work/out.md5"; then
  echo "the Windows tukUnpack did not give the sample tree back" >&2
  failed=1
fi
# The bundled archives of the sample tree (stored and compressed) unpack to
# it as well.
for archive in "$root/sample/sample.tuk" "$root/sample/sample-compressed.tuk"; do
  [ -f "$archive" ] && [ "$tree" = "$root/sample/tree" ] || continue
  out="$work/$(basename "$archive" .tuk)"
  mkdir -p "$out"
  (cd "$work" && "$wine" "$mingw/unpack/tukUnpack.exe" "$archive" "$out" >/dev/null) ||
    failed=1
  files "$out/sample" >"$out.md5" 2>/dev/null || true
  if ! cmp -s "$work/tree.md5" "$out.md5"; then
    echo "the Windows tukUnpack did not unpack $archive to the sample tree" >&2
    failed=1
  fi
done

step "Done"
if [ "$failed" != 0 ]; then
  echo "Windows checks FAILED" >&2
  exit 1
fi
echo "Windows checks passed"
