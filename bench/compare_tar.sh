#!/usr/bin/env bash
# Whole-process comparison of the tuk programs with their peers on the
# same trees:
#   TukPack                    against `tar cf`
#   tukUnpack (mode 0)         against `tar xf`
#   tukUnpack (mode 1)         against lzo_extract, a plain C extractor
#                              decoding with liblzo2 (bench/lzo_extract.c)
#   tuk extract                against tukUnpack (the same mode-0 archive)
#   tuk pack -0                against TukPack
#
#   bench/compare_tar.sh [build-dir]        (default: build/release)
#
# Three trees are generated under a temporary directory (TMPDIR; use a
# RAM-backed one such as /dev/shm for warm caches): about 3,000 files
# holding about 60 MB (a few of them larger than the programs' first 4 MB
# buffer), about 20,000 small files, and BIG_FILES (default 4) files of
# 100-200 MB. Each program and its peer run alternately RUNS times (default
# 5), so drifts of the machine hit both alike. Printed per tree: the median
# wall time of each, the ratio of the medians (ours / peer; the goal is
# GOAL, default 0.80, or 1.00 for tuk against the legacy programs) and each
# side's peak resident memory; then one line per ratio and the worst, and
# the largest peak memory of our programs (making the mode-1 archive with
# tuk pack at its default level included) against its 16 MiB goal.
#
# lzo_extract is compiled here with cc when liblzo2's header is installed
# (Debian: liblzo2-dev); without it, the mode-1 comparison is left out.
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
  for candidate in "$BUILD_DIR/pack/$name" "$BUILD_DIR/unpack/$name" "$BUILD_DIR/tuk/$name" \
                   "$BUILD_DIR/$name" "$BUILD_DIR/bin/$name"; do
    if [[ -f $candidate && -x $candidate ]]; then
      (cd "$(dirname "$candidate")" && echo "$PWD/$(basename "$candidate")")
      return 0
    fi
  done
  echo "error: $name not found under $BUILD_DIR (build it first)" >&2
  exit 1
}

TUKPACK=$(find_program TukPack)
TUKUNPACK=$(find_program tukUnpack)
TUK=$(find_program tuk)
GOAL=${GOAL:-0.80}
BIG_FILES=${BIG_FILES:-4}
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

LZO_EXTRACT=""
if [[ -r /usr/include/lzo/lzo1x.h ]] && command -v cc >/dev/null; then
  if cc -O2 -Wall -Wextra -Wpedantic -o "$WORK/lzo_extract" \
       "$(dirname "$0")/lzo_extract.c" -llzo2 2>"$WORK/lzo_extract.log"; then
    LZO_EXTRACT=$WORK/lzo_extract
  else
    cat "$WORK/lzo_extract.log" >&2
  fi
fi

# ---- Trees ------------------------------------------------------------------

generate() {  # generate <dir> <files> <total-bytes> <seed> <large-files> <cap-bytes>
  python3 "$BENCH_DIR/generate_tree.py" "$@"
}

# ---- Measuring ----------------------------------------------------------------

# run_measured <label> <command...>: runs the command with its output
# discarded; sets ELAPSED_MS, PEAK_KB and CPU_MS (user + system time; both
# empty when unknown).
run_measured() {
  local start end status=0
  shift  # the label only names the run in the caller
  # Dirty pages of the previous run would otherwise be written back on
  # this run's time.
  sync
  PEAK_KB=""
  CPU_MS=""
  start=$(date +%s%N)
  case $MEMORY in
    gnutime)
      /usr/bin/time -f '%M %U %S' -o "$WORK/rss" "$@" >/dev/null 2>&1 || status=$?
      end=$(date +%s%N)
      read -r PEAK_KB user system < <(tail -n 1 "$WORK/rss")
      CPU_MS=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%d", (u + s) * 1000 }')
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

# The results of every tree: "label|ratio|goal" and our peaks in KiB.
RESULTS=()
OUR_PEAKS=()

# report <tree> <what> <ours> <peer> <goal>: ours and peer name the arrays
# of a program's runs (NAME_ms, NAME_kb, NAME_cpu).
report() {
  local tree=$1 what=$2 ours=$3 peer=$4 goal=$5
  local -n ours_ms=${ours}_ms peer_ms=${peer}_ms ours_kb=${ours}_kb peer_kb=${peer}_kb
  local -n ours_cpu=${ours}_cpu peer_cpu=${peer}_cpu
  local mo mp r cpu="n/a"
  mo=$(median "${ours_ms[@]}"); mp=$(median "${peer_ms[@]}"); r=$(ratio "$mo" "$mp")
  if [[ -n ${ours_cpu[0]:-} && -n ${peer_cpu[0]:-} ]]; then
    cpu=$(ratio "$(median "${ours_cpu[@]}")" "$(median "${peer_cpu[@]}")")
  fi
  printf '   %-34s %9s %9s %7s %7s %13s %13s\n' "$what" "$mo" "$mp" "$r" "$cpu" \
    "$(max_kb "${ours_kb[@]}")" "$(max_kb "${peer_kb[@]}")"
  RESULTS+=("$tree: $what|$r|$goal|$cpu")
}

# compare_tree <label> <tree-dir-name>: runs every comparison RUNS times,
# each program alternating with its peer.
compare_tree() {
  local label=$1 name=$2
  local tree_files tree_bytes largest
  tree_files=$(find "$WORK/$name" -type f | wc -l)
  tree_bytes=$(du -sb "$WORK/$name" | cut -f1)
  largest=$(find "$WORK/$name" -type f -printf '%s\n' | sort -n | tail -n 1)

  local program
  for program in pack tar_c tukpack unpack tar_x extract unpack1 lzo; do
    local -a "${program}_ms=()" "${program}_kb=()" "${program}_cpu=()"
  done
  cd "$WORK"
  # The mode-1 archive, made once at tuk's default level: only its peak
  # memory is compared (with the 16 MiB goal).
  run_measured tuk-pack-level "$TUK" pack "$name" "$name" "$WORK/$name-1.tuk"
  local level_kb=$PEAK_KB level_ms=$ELAPSED_MS
  for ((i = 1; i <= RUNS; i++)); do
    # Pack: TukPack, tar cf and tuk pack -0, each into a fresh file.
    rm -f "$WORK/$name.tuk" "$WORK/$name.tar" "$WORK/$name-0.tuk"
    run_measured TukPack "$TUKPACK" "$name" "$name" "$WORK/$name.tuk"
    pack_ms+=("$ELAPSED_MS"); pack_kb+=("$PEAK_KB"); pack_cpu+=("$CPU_MS")
    run_measured tar-c tar cf "$WORK/$name.tar" "$name"
    tar_c_ms+=("$ELAPSED_MS"); tar_c_kb+=("$PEAK_KB"); tar_c_cpu+=("$CPU_MS")
    run_measured tuk-pack "$TUK" pack "$name" "$name" "$WORK/$name-0.tuk" -0
    tukpack_ms+=("$ELAPSED_MS"); tukpack_kb+=("$PEAK_KB"); tukpack_cpu+=("$CPU_MS")

    # Unpack: each into a fresh empty directory.
    fresh() { rm -rf "$WORK/out"; mkdir "$WORK/out"; }
    fresh
    run_measured tukUnpack "$TUKUNPACK" "$WORK/$name.tuk" "$WORK/out"
    unpack_ms+=("$ELAPSED_MS"); unpack_kb+=("$PEAK_KB"); unpack_cpu+=("$CPU_MS")
    if [[ $i -eq 1 ]] && ! diff -rq "$WORK/$name" "$WORK/out/$name" >/dev/null; then
      echo "error: the unpacked tree differs from $name" >&2
      exit 1
    fi
    fresh
    run_measured tar-x tar xf "$WORK/$name.tar" -C "$WORK/out"
    tar_x_ms+=("$ELAPSED_MS"); tar_x_kb+=("$PEAK_KB"); tar_x_cpu+=("$CPU_MS")
    fresh
    run_measured tuk-extract "$TUK" extract "$WORK/$name-0.tuk" -C "$WORK/out"
    extract_ms+=("$ELAPSED_MS"); extract_kb+=("$PEAK_KB"); extract_cpu+=("$CPU_MS")

    fresh
    run_measured tukUnpack-1 "$TUKUNPACK" "$WORK/$name-1.tuk" "$WORK/out"
    unpack1_ms+=("$ELAPSED_MS"); unpack1_kb+=("$PEAK_KB"); unpack1_cpu+=("$CPU_MS")
    if [[ $i -eq 1 ]] && ! diff -rq "$WORK/$name" "$WORK/out/$name" >/dev/null; then
      echo "error: the tree unpacked from the mode-1 archive differs from $name" >&2
      exit 1
    fi
    if [[ -n $LZO_EXTRACT ]]; then
      fresh
      run_measured lzo_extract "$LZO_EXTRACT" "$WORK/$name-1.tuk" "$WORK/out"
      lzo_ms+=("$ELAPSED_MS"); lzo_kb+=("$PEAK_KB"); lzo_cpu+=("$CPU_MS")
      if [[ $i -eq 1 ]] && ! diff -rq "$WORK/$name" "$WORK/out/$name" >/dev/null; then
        echo "error: lzo_extract's tree differs from $name" >&2
        exit 1
      fi
    fi
  done

  echo
  echo "== $label: $tree_files files, $((tree_bytes / 1048576)) MiB, largest file $((largest / 1024)) KiB"
  echo "   archive sizes: .tuk $(stat -c %s "$WORK/$name.tuk"), mode-1 .tuk $(stat -c %s "$WORK/$name-1.tuk"), .tar $(stat -c %s "$WORK/$name.tar") bytes"
  echo "   mode-1 archive by tuk pack (default level): ${level_ms} ms, peak ${level_kb:-?} KiB"
  printf '   %-34s %9s %9s %7s %7s %13s %13s\n' "ours vs peer" "ours ms" "peer ms" "ratio" \
    "cpu" "ours peak KiB" "peer peak KiB"
  report "$label" "TukPack vs tar cf" pack tar_c "$GOAL"
  report "$label" "tukUnpack vs tar xf" unpack tar_x "$GOAL"
  if [[ -n $LZO_EXTRACT ]]; then
    report "$label" "tukUnpack (mode 1) vs lzo_extract" unpack1 lzo "$GOAL"
  fi
  report "$label" "tuk extract vs tukUnpack" extract unpack 1.00
  report "$label" "tuk pack -0 vs TukPack" tukpack pack 1.00
  echo "   runs (ms): TukPack ${pack_ms[*]} | tar cf ${tar_c_ms[*]} | tuk pack -0 ${tukpack_ms[*]}"
  echo "              tukUnpack ${unpack_ms[*]} | tar xf ${tar_x_ms[*]} | tuk extract ${extract_ms[*]}"
  echo "              tukUnpack mode 1 ${unpack1_ms[*]} | lzo_extract ${lzo_ms[*]:-}"
  OUR_PEAKS+=("$(max_kb "${pack_kb[@]}" "${tukpack_kb[@]}" "${unpack_kb[@]}" "${extract_kb[@]}" \
                        "${unpack1_kb[@]}" "$level_kb")")
  rm -rf "$WORK/out" "$WORK/$name.tuk" "$WORK/$name-0.tuk" "$WORK/$name-1.tuk" "$WORK/$name.tar"
}

# generate_big <dir> <files> <seed>: files of 100-200 MB, part text, part
# random bytes, so that the mode-1 archive compresses some of it.
generate_big() {
  python3 - "$@" <<'PY'
import os, random, sys
root, files, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
chunk = rng.randbytes(1 << 20) if hasattr(rng, "randbytes") else os.urandom(1 << 20)
text = (b"object.create vehicle harlo\nobject.setposition 0/0/0\n" * 20000)[: 1 << 20]
for i in range(files):
    size = rng.randint(100_000_000, 200_000_000)
    directory = os.path.join(root, "data" if i % 2 else "")
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, f"big{i}.bin"), "wb") as f:
        left = size
        while left > 0:
            piece = min(left, 1 << 20)
            f.write((text if rng.random() < 0.5 else chunk)[:piece])
            left -= piece
PY
}

echo "TukPack:     $TUKPACK"
echo "tukUnpack:   $TUKUNPACK"
echo "tuk:         $TUK"
echo "lzo_extract: ${LZO_EXTRACT:-not built (no liblzo2 header or no cc)}"
echo "tar:         $(tar --version 2>/dev/null | head -n 1)"
echo "runs: $RUNS each, alternating; peak memory: $MEMORY; work directory: $WORK"
echo "generating trees ..."
generate "$WORK/mixed" 3000 $((66 * 1000 * 1000)) 1 6 3000000
generate "$WORK/small" 20000 $((20 * 1000 * 1000)) 2 0 32768
generate_big "$WORK/big" "$BIG_FILES" 3

compare_tree "mixed tree" mixed
compare_tree "small files" small
compare_tree "big files" big

echo
echo "== ratios (median ours / median peer, wall time; cpu: the same for user + system time)"
worst="" worst_ratio=0
for result in "${RESULTS[@]}"; do
  IFS='|' read -r what r goal cpu <<<"$result"
  verdict=$(awk -v r="$r" -v g="$goal" 'BEGIN { print (r <= g) ? "met" : "NOT MET" }')
  printf '   %-52s %6s  goal <= %s  %-7s  (cpu %s)\n' "$what" "$r" "$goal" "$verdict" "$cpu"
  # The worst is the one furthest past (or least inside) its goal.
  excess=$(awk -v r="$r" -v g="$goal" 'BEGIN { printf "%.4f", r / g }')
  if [[ -z $worst ]] || awk -v a="$excess" -v b="$worst_ratio" 'BEGIN { exit !(a > b) }'; then
    worst=$what; worst_ratio=$excess; worst_line="$r (goal <= $goal)"
  fi
done
echo "   worst: $worst: $worst_line"
peak=$(max_kb "${OUR_PEAKS[@]}")
echo "   largest peak memory of ours: $peak KiB (goal <= 16384 KiB: $([[ $peak -le 16384 ]] && echo met || echo NOT MET))"
if [[ $MEMORY == proc ]]; then
  echo "peak memory was sampled from /proc (values marked ~ may run low)."
fi
