#!/usr/bin/env bash
# How tuk pack shares its work between two cores: the wall time of -j 2
# against -j 1 at levels 1 and 5, and -5 -j 2 against tar | zstd -1 -T2, on
# the trees of compare_compression.sh.
#
#   bench/compare_threads.sh BUILD_DIR [OTHER_BUILD_DIR]
#
# On a shared host a slow spell falls on whichever command runs through it,
# so the commands take turns: ROUNDS rounds (default 6) of hyperfine, 5 runs
# each, every other round in reverse order, and the median of all of a
# command's runs. An OTHER_BUILD_DIR (an older build, say) runs in the same
# rounds. Each archive is removed before its run, so the time is packing's,
# not the removal of the last run's output. Needs hyperfine, python3, tar
# and zstd; set TREES_DIR as for compare_compression.sh (the trees are copied
# to WORK_DIR, default /dev/shm, so the disk does not count).
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 BUILD_DIR [OTHER_BUILD_DIR]" >&2
  exit 2
fi
for tool in hyperfine python3 tar zstd; do
  command -v "$tool" >/dev/null || { echo "$0: needs $tool" >&2; exit 2; }
done
TREES=${TREES_DIR:?set TREES_DIR to the directory holding real/ and generated/}
ROUNDS=${ROUNDS:-6}
WORK=$(mktemp -d "${WORK_DIR:-/dev/shm}/tuk-threads.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

builds=()
for dir in "$@"; do builds+=("$(cd "$dir" && pwd)/tuk/tuk"); done

for tree in real generated; do
  [[ -d $TREES/$tree ]] || continue
  cp -r "$TREES/$tree" "$WORK/$tree"
  commands=()
  for tuk in "${builds[@]}"; do
    for level in -1 -5; do
      for j in 1 2; do
        commands+=("$tuk pack $WORK/$tree p $WORK/a.tuk $level -j$j -q")
      done
    done
  done
  for round in $(seq 1 "$ROUNDS"); do
    order=("${commands[@]}")
    if (( round % 2 == 0 )); then
      order=()
      for (( i = ${#commands[@]} - 1; i >= 0; i-- )); do order+=("${commands[i]}"); done
    fi
    hyperfine -N -w 1 -r 5 --prepare "rm -f $WORK/a.tuk" --export-json "$WORK/round$round.json" \
      "${order[@]}" >/dev/null 2>&1
    hyperfine -w 1 -r 5 --prepare "rm -f $WORK/z.zst" --export-json "$WORK/zstd$round.json" \
      "tar -C $WORK/$tree -cf - . | zstd -1 -T2 -c >$WORK/z.zst" >/dev/null 2>&1
  done
  python3 - "$tree" "$WORK" "$ROUNDS" "${builds[@]}" <<'EOF'
import json, statistics, sys
tree, work, rounds, builds = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
times = {}
for r in range(1, rounds + 1):
    for result in json.load(open('%s/round%d.json' % (work, r)))['results']:
        times.setdefault(result['command'], []).extend(result['times'])
    for result in json.load(open('%s/zstd%d.json' % (work, r)))['results']:
        times.setdefault('zstd', []).extend(result['times'])
median = {k: statistics.median(v) * 1000 for k, v in times.items()}
zstd = median['zstd']
for tuk in builds:
    m = {}
    for level in ('-1', '-5'):
        for j in ('1', '2'):
            key = next(k for k in median if k.startswith(tuk + ' ') and ' %s -j%s ' % (level, j) in k)
            m[level, j] = median[key]
    print('%s\t%s\t-1: %.0f / %.0f ms = %.3f\t-5: %.0f / %.0f ms = %.3f\t-5 -j2 / tar | zstd -1 -T2 (%.0f ms): %.2f'
          % (tree, tuk, m['-1', '1'], m['-1', '2'], m['-1', '2'] / m['-1', '1'],
             m['-5', '1'], m['-5', '2'], m['-5', '2'] / m['-5', '1'], zstd, m['-5', '2'] / zstd))
EOF
  rm -rf "${WORK:?}/$tree"
done
