#!/bin/sh
# Runs the end-to-end tests (the ones that start the real programs) of the
# native test binary against the Windows executables under Wine.
#
#   tests/run_windows_e2e.sh [gtest arguments...]
#
# Environment (all optional):
#   TUK_TESTS      native test binary      (build/release/tests/tuk_tests)
#   TUK_MINGW_DIR  cross build directory   (build/mingw)
#   WINEPREFIX     Wine prefix             ($TUK_MINGW_DIR/wineprefix)
#   TUK_E2E_FILTER gtest filter            (the end-to-end suites)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
tests=${TUK_TESTS:-$root/build/release/tests/tuk_tests}
mingw=${TUK_MINGW_DIR:-$root/build/mingw}
wine=/usr/lib/wine/wine64
# End-to-end suites are named after the program they drive, or say so.
filter=${TUK_E2E_FILTER:-'*Cli*:*EndToEnd*'}

for f in "$tests" "$mingw/unpack/tukUnpack.exe" "$mingw/pack/TukPack.exe" "$wine"; do
  [ -e "$f" ] || { echo "missing: $f" >&2; exit 2; }
done
# The tests run the programs from directories of their own.
tests="$(cd "$(dirname "$tests")" && pwd)/$(basename "$tests")"
mingw=$(cd "$mingw" && pwd)

# The listing probe: the Windows platform layer on its own, compared with
# the Linux one by the tests. Rebuilt whenever a source is newer.
probe="$mingw/windows_list_probe.exe"
probe_src="$root/tests/windows_list_probe.cpp"
platform_lib="$mingw/platform/libtukplatform.a"
if [ ! -e "$probe" ] || [ "$probe_src" -nt "$probe" ] || [ "$platform_lib" -nt "$probe" ]; then
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror \
    -static -I"$root" "$probe_src" "$platform_lib" -o "$probe"
fi

. "$root/tools/wine_prefix.sh"

# One persistent server for the whole run, so each program starts in a
# fraction of a second. A server already running for the prefix (exit code
# 2) is used as it is and left running; ours is stopped on every way out.
if wineserver -p; then
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  trap 'exit 130' INT TERM
fi

export TUK_RUNNER="$wine"
export TUK_UNPACK="$mingw/unpack/tukUnpack.exe"
export TUK_PACK="$mingw/pack/TukPack.exe"
export TUK_LIST_PROBE="$probe"
if [ -e "$mingw/tuk/tuk.exe" ]; then
  export TUK_TUK="$mingw/tuk/tuk.exe"
fi
# The Linux TukPack, for the archives that must come out byte for byte the
# same; without it the test binary uses the one it was built with.
native_pack="${TUK_PACK_NATIVE:-$(dirname "$tests")/../pack/TukPack}"
if [ -x "$native_pack" ]; then
  export TUK_PACK_NATIVE="$native_pack"
fi

"$tests" --gtest_filter="$filter" "$@"
