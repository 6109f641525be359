#!/usr/bin/env bash
# Compressed size against compression speed: tuk levels 1-9, liblzo2's
# lzo1x_1 and lzo1x_999 and liblz4's fast compressor (per 32768-byte
# segment, through tuk_compress_bench), with lz4, lzop and zstd on a tar of
# the same tree as context, and the tuk program itself when it can pack at
# a level.
#
#   bench/compare_compression.sh [build-dir] [tuk-build-dir]
#       build-dir      holds bench/tuk_compress_bench (default build/codec)
#       tuk-build-dir  holds tuk/tuk (default build/release; skipped quietly
#                      when it cannot pack with -1 -j 1)
#
# Two trees are made in a temporary directory: a bounded sample of real
# files found on this machine (SAMPLE_MB, default 150: headers from
# /usr/include, shared libraries from /usr/lib/x86_64-linux-gnu, images and
# fonts from /usr/share, .mo catalogues from /usr/share/locale, each file
# picked in a fixed pseudo-random order), and a generated tree of about
# 3,000 files (text, records, runs and random bytes). Nothing is kept but
# the results (and the trees, when TREES_DIR names a place for them), written to OUT_DIR (default <build-dir>/compression):
#   compression.tsv   one line per tree and codec: tree, codec, input bytes,
#                     output bytes, ratio (output / input), compression MB/s,
#                     decode MB/s (ours only)
#   threads.tsv       tuk pack's wall time on two cores against one, and
#                     -5 on two against tar | zstd -1 -T2
#   compression.png   ratio against compression speed, one panel per tree
# Every speed is the best of 3 runs, on one thread unless said. Needs bash, python3 and
# tar; gnuplot for the chart; lz4, lzop and zstd are each skipped if absent.
set -euo pipefail

BUILD_DIR=${1:-build/codec}
TUK_BUILD_DIR=${2:-build/release}
SAMPLE_MB=${SAMPLE_MB:-150}
OUT_DIR=${OUT_DIR:-$BUILD_DIR/compression}
SCRIPT_DIR=$(cd "$(dirname "$0")" && pwd)

BENCH=$BUILD_DIR/bench/tuk_compress_bench
if [[ ! -x $BENCH ]]; then
  echo "error: $BENCH not found (cmake --build $BUILD_DIR --target tuk_compress_bench)" >&2
  exit 1
fi
BENCH=$(cd "$(dirname "$BENCH")" && pwd)/$(basename "$BENCH")
mkdir -p "$OUT_DIR"
OUT_DIR=$(cd "$OUT_DIR" && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tuk-compression.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# Copies files named on stdin (size TAB path), in the order given, into
# $1 until $2 bytes are reached; files above a quarter of the budget are
# passed over so that no single file dominates.
take() {
  local dest=$1 budget=$2 total=0 size path
  while IFS=$'\t' read -r size path; do
    (( size > budget / 4 )) && continue
    (( total + size > budget )) && continue
    mkdir -p "$dest/$(dirname "$path")"
    cp -L "$path" "$dest/$path" 2>/dev/null || continue
    total=$((total + size))
  done
}
shuffled() { shuf --random-source=<(yes tuk); }

# TREES_DIR keeps the two trees between runs (made there when missing).
TREES=${TREES_DIR:-$WORK}
REAL=$TREES/real
GENERATED=$TREES/generated
mb=$((1024 * 1024))
if [[ ! -d $REAL || ! -d $GENERATED ]]; then
rm -rf "$REAL" "$GENERATED"
echo "== sampling about $SAMPLE_MB MB of real files" >&2
find /usr/include -type f -printf '%s\t%p\n' 2>/dev/null | shuffled |
  take "$REAL" $((SAMPLE_MB * mb * 30 / 100))
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -printf '%s\t%p\n' 2>/dev/null |
  shuffled | take "$REAL" $((SAMPLE_MB * mb * 40 / 100))
find /usr/share -type f \( -name '*.png' -o -name '*.jpg' -o -name '*.gif' -o -name '*.svg' \
  -o -name '*.ttf' -o -name '*.otf' -o -name '*.pfb' \) -printf '%s\t%p\n' 2>/dev/null |
  shuffled | take "$REAL" $((SAMPLE_MB * mb * 15 / 100))
find /usr/share/locale -type f -name '*.mo' -printf '%s\t%p\n' 2>/dev/null | shuffled |
  take "$REAL" $((SAMPLE_MB * mb * 15 / 100))

echo "== generating a tree of many files" >&2
python3 - "$GENERATED" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2026)
words = ("the archive segment stream of a match literal byte window level "
         "offset length table entry file name data value count index").split()
def text(n):
    out = []
    while sum(map(len, out)) < n:
        out.append(" ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + "\n")
    return "".join(out).encode()[:n]
def records(n):
    out = bytearray()
    while len(out) < n:
        out += rng.randrange(1 << 20).to_bytes(4, "little") + bytes(4) + rng.choice(words).encode().ljust(12, b"\0")
    return bytes(out[:n])
def runs(n):
    out = bytearray()
    while len(out) < n:
        out += bytes([rng.randrange(256)]) * rng.randint(1, 400)
    return bytes(out[:n])
def noise(n):
    return rng.randbytes(n)
kinds = [text, text, records, runs, noise]
for i in range(3000):
    d = os.path.join(root, "d%02d" % (i % 40))
    os.makedirs(d, exist_ok=True)
    size = int(rng.lognormvariate(8.5, 1.6)) % (4 << 20)
    with open(os.path.join(d, "f%04d.bin" % i), "wb") as f:
        f.write(rng.choice(kinds)(size))
EOF
fi

TSV=$OUT_DIR/compression.tsv
printf 'tree\tcodec\tinput_bytes\toutput_bytes\tratio\tcompress_MBps\tdecode_MBps\n' >"$TSV"

# Best of three wall times of a command, in seconds.
best_of_3() {
  local best= start end t
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [[ -z $best ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  echo "$best"
}

row() {  # tree name input output seconds
  awk -v tree="$1" -v name="$2" -v in_="$3" -v out="$4" -v s="$5" \
    'BEGIN { printf "%s\t%s\t%d\t%d\t%.4f\t%.1f\t-\n", tree, name, in_, out, out / in_, in_ / 1e6 / s }' \
    >>"$TSV"
}

TUK=$TUK_BUILD_DIR/tuk/tuk
if [[ -x $TUK ]]; then
  TUK=$(cd "$(dirname "$TUK")" && pwd)/tuk
  mkdir -p "$WORK/probe/src" && echo probe >"$WORK/probe/src/a.txt"
  (cd "$WORK/probe" && "$TUK" pack src src probe.tuk -1 -j 1 >/dev/null 2>&1) || TUK=
else
  TUK=
fi

for tree in real generated; do
  dir=$TREES/$tree
  bytes=$(du -sb --apparent-size "$dir" | cut -f1)
  echo "== $tree: $(find "$dir" -type f | wc -l) files, $((bytes / mb)) MB" >&2
  "$BENCH" "$dir" | tail -n +2 | sed "s/^/$tree\t/" >>"$TSV"

  tar -C "$dir" -cf "$WORK/$tree.tar" .
  input=$(stat -c %s "$WORK/$tree.tar")
  for tool in "lz4 -1" "lzop -1" "lzop -9" "zstd -1 -T1"; do
    set -- $tool
    command -v "$1" >/dev/null || continue
    seconds=$(best_of_3 sh -c "$tool -c '$WORK/$tree.tar' >'$WORK/out'")
    row "$tree" "${tool% -T1} (tar)" "$input" "$(stat -c %s "$WORK/out")" "$seconds"
  done
  rm -f "$WORK/out"

  if [[ -n $TUK ]]; then
    # The program itself, on one core and on two; zstd on its own two
    # threads behind tar is the peer for the two-core figure.
    files=$(du -sb --apparent-size "$dir" | cut -f1)
    for level in -1 -5 -9; do
      for j in "-j 1" "-j 2"; do
        seconds=$(best_of_3 sh -c "rm -f '$WORK/pack.tuk' && '$TUK' pack '$dir' '$tree' '$WORK/pack.tuk' $level $j")
        row "$tree" "tuk pack $level ${j/ /}" "$files" "$(stat -c %s "$WORK/pack.tuk")" "$seconds"
      done
    done
    if command -v zstd >/dev/null; then
      seconds=$(best_of_3 sh -c "tar -C '$dir' -cf - . | zstd -1 -T2 -c >'$WORK/out'")
      row "$tree" "zstd -1 -T2 (tar)" "$files" "$(stat -c %s "$WORK/out")" "$seconds"
      rm -f "$WORK/out"
    fi
  fi
done

echo "== $TSV" >&2
column -t -s $'\t' "$TSV"

# Wall time of tuk pack on two cores against one core at the same level,
# and -5 on two cores against tar | zstd -1 -T2 (below 1 is faster).
echo "== two cores (wall-time ratios)" >&2
awk -F'\t' 'NR > 1 { mbps[$1, $2] = $6; trees[$1] = 1 }
  END {
    printf "tree\tpair\ttime ratio\n"
    for (t in trees) {
      for (l = 1; l <= 9; l += 4) {
        one = mbps[t, "tuk pack -" l " -j1"]; two = mbps[t, "tuk pack -" l " -j2"]
        if (one && two) printf "%s\t-%d -j2 / -%d -j1\t%.2f\n", t, l, l, one / two
      }
      z = mbps[t, "zstd -1 -T2 (tar)"]; two = mbps[t, "tuk pack -5 -j2"]
      if (z && two) printf "%s\t-5 -j2 / tar | zstd -1 -T2\t%.2f\n", t, z / two
    }
  }' "$TSV" | tee "$OUT_DIR/threads.tsv" | column -t -s $'\t'

if command -v gnuplot >/dev/null; then
  gnuplot -e "tsv='$TSV'; png='$OUT_DIR/compression.png'" "$SCRIPT_DIR/plot_compression.gnuplot"
  echo "== chart: $OUT_DIR/compression.png" >&2
else
  echo "gnuplot not found: no chart" >&2
fi
