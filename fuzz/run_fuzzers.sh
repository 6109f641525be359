#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, the library instrumented as well) and runs
# each for a bounded time, starting from the committed seed corpus and the
# inputs of past findings. New corpus entries go to a temporary directory
# that is removed afterwards; inputs that make a target fail are kept in
# the build directory's artifacts/<target>/.
#
#   fuzz/run_fuzzers.sh [seconds per target (default 60)] [target ...]
#
# Targets: decompression load_index extract list_file roundtrip encoder (default:
# all). Exits non-zero when any target failed. TUK_FUZZ_BUILD_DIR chooses
# the build directory (default build/fuzz), CXX the compiler (clang++).
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-decompression load_index extract list_file roundtrip encoder}

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TUK_FUZZ_BUILD_DIR:-$source_dir/build/fuzz}
compiler=${CXX:-clang++}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" \
  -DTUK_BUILD_FUZZ=ON -DTUK_BUILD_TESTS=OFF -DTUK_BUILD_BENCH=OFF >/dev/null
build_targets=
for target in $targets; do build_targets="$build_targets fuzz_$target"; done
# shellcheck disable=SC2086
cmake --build "$build_dir" -j2 --target $build_targets

work=$(mktemp -d "${TMPDIR:-/tmp}/tuk-fuzz-corpus-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

failed=
summary=
for target in $targets; do
  mkdir -p "$work/$target" "$build_dir/artifacts/$target"
  seeds="$source_dir/fuzz/corpus/$target"
  found="$source_dir/tests/fixtures/fuzz/$target"
  [ -d "$found" ] || found=
  echo "== fuzz_$target for ${seconds}s"
  log="$build_dir/artifacts/$target/last_run.log"
  status=0
  # shellcheck disable=SC2086
  "$build_dir/fuzz/fuzz_$target" "$work/$target" "$seeds" $found \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/$target/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  line="fuzz_$target: ${runs:-?} executions, ${rate:-?} exec/s"
  if [ "$status" -ne 0 ]; then
    line="$line, FAILED (exit $status, see $log)"
    failed="$failed $target"
    tail -n 40 "$log"
  fi
  echo "$line"
  summary="$summary$line
"
done

echo "== summary"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "failing targets:$failed"
  exit 1
fi
