#!/usr/bin/env bash
# Whole-process comparison of the tuk programs with tar on the same trees:
# TukPack against `tar cf`, tukUnpack against `tar xf`.
#
#   bench/compare_tar.sh [build-dir]        (default: build/release)
#
# Two trees are generated under a temporary directory: about 3,000 files
# holding about 60 MB (a few of them larger than the programs' first 4 MB
# buffer), and about 20,000 small files. Each program and its tar
# counterpart run alternately RUNS times (default 5), so drifts of the
# machine hit both alike. Printed: the median wall time of each, the ratio
# of the medians (ours / tar; at most 1.0 means no slower than tar), and
# each side's peak resident memory.
#
# Peak memory comes from GNU time when /usr/bin/time is GNU time; otherwise
# it is sampled from /proc/<pid>/status (VmHWM) while the program runs, which
# may miss a peak reached in the last few milliseconds; without /proc it is
# not shown.
#
# Needs bash, tar and python3 (for generating the trees). Not part of CI:
# the figures depend on the machine.
set -euo pipefail

BUILD_DIR=${1:-build/release}
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
RUNS=${RUNS:-5}
KEEP=${KEEP:-0}  # 1 keeps the temporary directory for a look afterwards

find_program() {
  local name=$1
  for candidate in "$BUILD_DIR/pack/$name" "$BUILD_DIR/unpack/$name" "$BUILD_DIR/$name" \
                   "$BUILD_DIR/bin/$name"; do
    if [[ -x $candidate ]]; then
      (cd "$(dirname "$candidate")" && echo "$PWD/$(basename "$candidate")")
      return 0
    fi
  done
  echo "error: $name not found under $BUILD_DIR (build it first)" >&2
  exit 1
}

TUKPACK=$(find_program TukPack)
TUKUNPACK=$(find_program tukUnpack)
command -v tar >/dev/null || { echo "error: tar not found" >&2; exit 1; }
command -v python3 >/dev/null || { echo "error: python3 not found" >&2; exit 1; }

# How peak memory is measured.
MEMORY=none
if [[ -x /usr/bin/time ]] && /usr/bin/time -f '%M' -o /dev/null true 2>/dev/null; then
  MEMORY=gnutime
elif [[ -r /proc/self/status ]]; then
  MEMORY=proc
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tuk-vs-tar.XXXXXX")
cleanup() {
  if [[ $KEEP == 1 ]]; then
    echo "kept: $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

# ---- Trees ------------------------------------------------------------------

generate() {  # generate <dir> <files> <total-bytes> <seed> <large-files> <cap-bytes>
  python3 "$BENCH_DIR/generate_tree.py" "$@"
}

# ---- Measuring ----------------------------------------------------------------

# run_measured <label> <command...>: runs the command with its output
# discarded; sets ELAPSED_MS and PEAK_KB (empty when unknown).
run_measured() {
  local start end status=0
  shift  # the label only names the run in the caller
  # Dirty pages of the previous run would otherwise be written back on
  # this run's time.
  sync
  PEAK_KB=""
  start=$(date +%s%N)
  case $MEMORY in
    gnutime)
      /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null 2>&1 || status=$?
      end=$(date +%s%N)
      PEAK_KB=$(tail -n 1 "$WORK/rss")
      ;;
    proc)
      "$@" >/dev/null 2>&1 &
      local pid=$! peak=0 hwm
      while kill -0 "$pid" 2>/dev/null; do
        hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        if [[ -n $hwm && $hwm -gt $peak ]]; then peak=$hwm; fi
        sleep 0.005
      done
      wait "$pid" || status=$?
      end=$(date +%s%N)
      PEAK_KB="~$peak"
      ;;
    *)
      "$@" >/dev/null 2>&1 || status=$?
      end=$(date +%s%N)
      ;;
  esac
  ELAPSED_MS=$(( (end - start) / 1000000 ))
  if [[ $status -ne 0 ]]; then
    echo "error: '$*' exited with $status" >&2
    exit 1
  fi
}

median() {  # median of the numbers given
  printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {
    if (NR % 2) print a[(NR + 1) / 2]; else print (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

max_kb() {
  local best=0 value
  for value in "$@"; do
    value=${value#\~}
    [[ -n $value && $value -gt $best ]] && best=$value
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# compare_tree <label> <tree-dir-name>: packs and unpacks one tree RUNS times.
compare_tree() {
  local label=$1 name=$2
  local tree_files tree_bytes largest
  tree_files=$(find "$WORK/$name" -type f | wc -l)
  tree_bytes=$(du -sb "$WORK/$name" | cut -f1)
  largest=$(find "$WORK/$name" -type f -printf '%s\n' | sort -n | tail -n 1)

  local pack_ms=() tar_c_ms=() unpack_ms=() tar_x_ms=()
  local pack_kb=() tar_c_kb=() unpack_kb=() tar_x_kb=()
  cd "$WORK"
  for ((i = 1; i <= RUNS; i++)); do
    # Pack: TukPack and tar cf, alternately, each into a fresh file.
    rm -f "$WORK/$name.tuk" "$WORK/$name.tar"
    run_measured TukPack "$TUKPACK" "$name" "$name" "$WORK/$name.tuk"
    pack_ms+=("$ELAPSED_MS"); pack_kb+=("$PEAK_KB")
    run_measured tar-c tar cf "$WORK/$name.tar" "$name"
    tar_c_ms+=("$ELAPSED_MS"); tar_c_kb+=("$PEAK_KB")

    # Unpack: both into fresh empty directories.
    rm -rf "$WORK/out-tuk" "$WORK/out-tar"
    mkdir "$WORK/out-tuk" "$WORK/out-tar"
    run_measured tukUnpack "$TUKUNPACK" "$WORK/$name.tuk" "$WORK/out-tuk"
    unpack_ms+=("$ELAPSED_MS"); unpack_kb+=("$PEAK_KB")
    run_measured tar-x tar xf "$WORK/$name.tar" -C "$WORK/out-tar"
    tar_x_ms+=("$ELAPSED_MS"); tar_x_kb+=("$PEAK_KB")

    if [[ $i -eq 1 ]] && ! diff -rq "$WORK/$name" "$WORK/out-tuk/$name" >/dev/null; then
      echo "error: the unpacked tree differs from $name" >&2
      exit 1
    fi
  done

  local mp mtc mu mtx
  mp=$(median "${pack_ms[@]}"); mtc=$(median "${tar_c_ms[@]}")
  mu=$(median "${unpack_ms[@]}"); mtx=$(median "${tar_x_ms[@]}")
  echo
  echo "== $label: $tree_files files, $((tree_bytes / 1048576)) MiB, largest file $((largest / 1024)) KiB"
  echo "   archive sizes: .tuk $(stat -c %s "$WORK/$name.tuk") bytes, .tar $(stat -c %s "$WORK/$name.tar") bytes"
  printf '   %-22s %10s %10s %8s %14s %14s\n' "" "ours ms" "tar ms" "ratio" "ours peak KiB" "tar peak KiB"
  printf '   %-22s %10s %10s %8s %14s %14s\n' "TukPack vs tar cf" "$mp" "$mtc" "$(ratio "$mp" "$mtc")" \
    "$(max_kb "${pack_kb[@]}")" "$(max_kb "${tar_c_kb[@]}")"
  printf '   %-22s %10s %10s %8s %14s %14s\n' "tukUnpack vs tar xf" "$mu" "$mtx" "$(ratio "$mu" "$mtx")" \
    "$(max_kb "${unpack_kb[@]}")" "$(max_kb "${tar_x_kb[@]}")"
  echo "   runs (ms): pack ${pack_ms[*]} | tar cf ${tar_c_ms[*]} | unpack ${unpack_ms[*]} | tar xf ${tar_x_ms[*]}"
  rm -rf "$WORK/out-tuk" "$WORK/out-tar" "$WORK/$name.tuk" "$WORK/$name.tar"
}

echo "TukPack:   $TUKPACK"
echo "tukUnpack: $TUKUNPACK"
echo "tar:       $(tar --version 2>/dev/null | head -n 1)"
echo "runs: $RUNS each, alternating; peak memory: $MEMORY"
echo "generating trees in $WORK ..."
generate "$WORK/mixed" 3000 $((66 * 1000 * 1000)) 1 6 3000000
generate "$WORK/small" 20000 $((20 * 1000 * 1000)) 2 0 32768

compare_tree "mixed tree" mixed
compare_tree "small files" small
echo
echo "ratio = median(ours) / median(tar); at most 1.00 means no slower than tar."
if [[ $MEMORY == proc ]]; then
  echo "peak memory was sampled from /proc (values marked ~ may run low)."
fi
