#!/usr/bin/env bash
# tuk mount and tuk convert against what they stand in for, on generated
# trees (bench/generate_tree.py, as bench/compare_tar.sh makes them):
#
#   cat        every file of a mounted stored (mode-0) archive read with cat,
#              against the same files of the unpacked tree on the same disk
#              (goal: at most 1.5 times as long)
#   ls -R      of a mounted 20,000-entry archive (goal: at most 0.2 s)
#   convert    tuk convert of a tar into a stored .tuk, against tar xf
#              followed by tuk pack -0 (goal: no slower)
#   big entry  one 512 MiB compressed (mode-1) entry of a mount with an
#              8 MiB cache: its first 4 KiB against the whole of it, and the
#              server's peak memory (goal: at most 16 MiB above the cache)
#
#   bench/compare_mount.sh [build-dir]        (default: build/release)
#
# Every figure is the median of RUNS runs (default 5), the two sides run
# alternately. cat is timed twice: warm, the archive and the tree in the
# page cache; and cold, their pages dropped first (posix_fadvise
# DONTNEED on each file, after a sync: no need to drop every cache of the
# machine), so both are read from the disk. Each mounted run is a fresh
# mount, so its files pass through the FUSE server (a second read of a
# mounted file comes from the kernel's cache, as a tree's does). Needs root
# or fusermount3, and /dev/fuse. Not part of CI: the figures depend on the
# machine.
set -euo pipefail

BUILD_DIR=${1:-build/release}
RUNS=${RUNS:-5}
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
TUK=$(cd "$BUILD_DIR/tuk" && pwd)/tuk
[[ -x $TUK ]] || { echo "error: $TUK not found (build it first)" >&2; exit 1; }
"$TUK" --help | grep -q '^  mount' || { echo "error: this tuk has no mount" >&2; exit 1; }
"$TUK" --help | grep -q '^  convert' || { echo "error: this tuk has no convert" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tuk-mount-bench.XXXXXX")
MNT="$WORK/mnt"
mkdir "$MNT"
cleanup() {
  "$TUK" unmount "$MNT" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() {
  printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {
    if (NR % 2) print a[(NR + 1) / 2]; else print (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
cat_all() { (cd "$1" && find . -type f -print0 | xargs -0 cat >/dev/null); }
evict() {  # evict <file-or-dir>...: their pages out of the page cache
  sync
  python3 - "$@" <<'PY'
import os, sys
for top in sys.argv[1:]:
    paths = [top] if os.path.isfile(top) else [
        os.path.join(d, f) for d, _, files in os.walk(top) for f in files]
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
PY
}
mount_fresh() { "$TUK" mount "$1" "$MNT"; }
unmount() { "$TUK" unmount "$MNT"; }

echo "tuk: $TUK"
echo "runs: $RUNS each, alternating"
echo "generating trees in $WORK ..."
python3 "$BENCH_DIR/generate_tree.py" "$WORK/mixed" 3000 $((66 * 1000 * 1000)) 1 6 3000000
python3 "$BENCH_DIR/generate_tree.py" "$WORK/small" 20000 $((20 * 1000 * 1000)) 2 0 32768

for name in mixed small; do
  files=$(find "$WORK/$name" -type f | wc -l)
  entries_dirs=$(find "$WORK/$name" -type d | wc -l)
  mib=$(( $(du -sb "$WORK/$name" | cut -f1) / 1048576 ))
  "$TUK" pack "$WORK/$name" "$name" "$WORK/$name.tuk" -0
  (cd "$WORK" && tar cf "$name.tar" "$name")
  cat "$WORK/$name.tuk" "$WORK/$name.tar" >/dev/null
  cat_all "$WORK/$name"

  tree_ms=() mount_ms=() cold_tree_ms=() cold_mount_ms=() ls_ms=() convert_ms=() unpack_pack_ms=()
  for ((i = 1; i <= RUNS; i++)); do
    start=$(now_ms); cat_all "$WORK/$name"; tree_ms+=($(( $(now_ms) - start )))
    mount_fresh "$WORK/$name.tuk"
    start=$(now_ms); cat_all "$MNT/$name"; mount_ms+=($(( $(now_ms) - start )))
    unmount
    evict "$WORK/$name"
    start=$(now_ms); cat_all "$WORK/$name"; cold_tree_ms+=($(( $(now_ms) - start )))
    evict "$WORK/$name.tuk"
    mount_fresh "$WORK/$name.tuk"
    start=$(now_ms); cat_all "$MNT/$name"; cold_mount_ms+=($(( $(now_ms) - start )))
    unmount
    mount_fresh "$WORK/$name.tuk"
    start=$(now_ms); ls -R "$MNT" >/dev/null; ls_ms+=($(( $(now_ms) - start )))
    unmount

    rm -f "$WORK/converted.tuk" "$WORK/repacked.tuk"; rm -rf "$WORK/out"; mkdir "$WORK/out"; sync
    start=$(now_ms); "$TUK" convert "$WORK/$name.tar" "$WORK/converted.tuk" -0 2>/dev/null
    convert_ms+=($(( $(now_ms) - start ))); sync
    start=$(now_ms)
    tar xf "$WORK/$name.tar" -C "$WORK/out"
    "$TUK" pack "$WORK/out/$name" "$name" "$WORK/repacked.tuk" -0
    unpack_pack_ms+=($(( $(now_ms) - start )))
    if [[ $i -eq 1 ]] && ! cmp -s "$WORK/converted.tuk" "$WORK/repacked.tuk"; then
      # The same files, in tar's order rather than the scan's.
      "$TUK" verify "$WORK/converted.tuk" >/dev/null
    fi
  done

  t=$(median "${tree_ms[@]}"); m=$(median "${mount_ms[@]}"); l=$(median "${ls_ms[@]}")
  ct=$(median "${cold_tree_ms[@]}"); cm=$(median "${cold_mount_ms[@]}")
  c=$(median "${convert_ms[@]}"); u=$(median "${unpack_pack_ms[@]}")
  echo
  echo "== $name: $files files in $entries_dirs directories, $mib MiB"
  printf '   %-44s %9s %9s %7s\n' "" "ours ms" "other ms" "ratio"
  printf '   %-44s %9s %9s %7s\n' "cat every file, warm: mount (mode 0) / tree" "$m" "$t" "$(ratio "$m" "$t")"
  printf '   %-44s %9s %9s %7s\n' "cat every file, cold: mount (mode 0) / tree" "$cm" "$ct" "$(ratio "$cm" "$ct")"
  printf '   %-44s %9s %9s %7s\n' "ls -R of the mount" "$l" "" ""
  printf '   %-44s %9s %9s %7s\n' "convert tar -> tuk -0 / tar xf + tuk pack -0" "$c" "$u" "$(ratio "$c" "$u")"
  echo "   runs (ms): tree ${tree_ms[*]} | mount ${mount_ms[*]} | cold tree ${cold_tree_ms[*]} | cold mount ${cold_mount_ms[*]} | ls -R ${ls_ms[*]} | convert ${convert_ms[*]} | tar xf + pack ${unpack_pack_ms[*]}"
  rm -rf "$WORK/out" "$WORK/converted.tuk" "$WORK/repacked.tuk"
done
# One big compressed entry: a read of its start decodes a segment or two,
# not the entry, and the server's memory stays near its cache's size.
python3 - "$WORK/big/asset.bin" <<'PY'
import random, sys, os
os.makedirs(os.path.dirname(sys.argv[1]), exist_ok=True)
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghij") for _ in range(rng.randint(3, 9))) for _ in range(500)]
with open(sys.argv[1], "wb") as out:
    block = b" ".join(rng.choice(words) for _ in range(200000))
    for i in range(512 * 1048576 // len(block) + 1):
        out.write(block[i % 97:] + block[:i % 97])
    out.truncate(512 * 1048576)
PY
"$TUK" pack "$WORK/big" big "$WORK/big.tuk" -1 -j 2
head_ms=() whole_ms=() peak_kib=()
for ((i = 1; i <= RUNS; i++)); do
  "$TUK" mount "$WORK/big.tuk" "$MNT" -f --cache-size 8 &
  server=$!
  until mountpoint -q "$MNT"; do sleep 0.05; done
  start=$(now_ms); head -c 4096 "$MNT/big/asset.bin" >/dev/null; head_ms+=($(( $(now_ms) - start )))
  start=$(now_ms); cat "$MNT/big/asset.bin" >/dev/null; whole_ms+=($(( $(now_ms) - start )))
  peak_kib+=($(awk '/^VmHWM/ { print $2 }' "/proc/$server/status"))
  unmount
  wait "$server" || true
done
h=$(median "${head_ms[@]}"); w=$(median "${whole_ms[@]}"); p=$(median "${peak_kib[@]}")
echo
echo "== big: one 512 MiB entry, mode 1, cache 8 MiB"
printf '   %-44s %9s %9s %7s
' "first 4 KiB / the whole entry" "$h" "$w" "$(ratio "$h" "$w")"
printf '   %-44s %9s\n' "peak memory of the server (KiB)" "$p"
echo "   runs: first 4 KiB ${head_ms[*]} ms | whole ${whole_ms[*]} ms | peak ${peak_kib[*]} KiB"

echo
echo "ratio = median(ours) / median(other); goals: cat at most 1.50, convert at most 1.00;"
echo "ls -R of the 20,000-file archive at most 200 ms; the big entry's server at most"
echo "16 MiB above its 8 MiB cache (24,576 KiB)."
