#!/usr/bin/env bash
# Kills every road that writes an archive (SIGKILL) at random moments and
# checks, after each kill, that the archive path holds the whole old
# archive or the whole new one, byte for byte (or nothing, for a new
# archive where there was none), and that tuk verify accepts it. The
# temporary and lock files a killed run leaves are not cleaned up: the
# next run must cope with them.
#
#   tests/crash_test.sh [BUILD_DIR (default build/release)] [KILLS_PER_ROAD (default 12)]
set -euo pipefail

build=$(cd "${1:-build/release}" && pwd)
kills=${2:-12}
tuk="$build/tuk/tuk"
pack="$build/pack/TukPack"
work=$(mktemp -d "${TMPDIR:-/tmp}/tuk-crash-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# A tree big enough that a run takes a while, and a second one to update with.
mkdir -p old/gfx new/gfx
for i in 1 2 3 4; do
  head -c $((1500000 * i)) /dev/urandom | base64 >"old/gfx/tile$i.txt"
  head -c 400000 /dev/urandom >"old/noise$i.bin"
  head -c $((900000 * i)) /dev/urandom | base64 >"new/gfx/tile$i.txt"
done
cp new/gfx/tile1.txt big.txt
"$tuk" pack old p base.tuk -1 >/dev/null

# Each road, as a command run in $work on a.tuk.
roads=(
  "'$pack' new p a.tuk -u"
  "'$tuk' pack new p a.tuk --update -5 -j 2"
  "'$tuk' replace a.tuk p/big.txt big.txt"
  "'$tuk' recompress a.tuk -9 -j 2"
  "'$tuk' delete a.tuk 'p/gfx/*'"
  "'$pack' new p a.tuk"
  "'$tuk' pack new p fresh.tuk -1"
)

failed=0
checked=0
kept_old=0
left_tmp=0
# fresh.tuk stands for a new archive where there was none.
restore() { cp base.tuk a.tuk; rm -f fresh.tuk; }
for road in "${roads[@]}"; do
  target=a.tuk
  case "$road" in *fresh.tuk*) target=fresh.tuk ;; esac
  restore
  start=$(date +%s%N)
  bash -c "$road" >/dev/null 2>&1
  took=$((($(date +%s%N) - start) / 1000000 + 1))
  cp "$target" expected.tuk

  for ((k = 0; k < kills; k++)); do
    restore
    bash -c "exec $road" >/dev/null 2>&1 &
    victim=$!
    delay=$((RANDOM % took))
    sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
    kill -9 "$victim" 2>/dev/null || true
    wait "$victim" 2>/dev/null || true
    checked=$((checked + 1))
    [ -e "$target.tmp" ] && left_tmp=$((left_tmp + 1))
    if [ "$target" = fresh.tuk ] && [ ! -e fresh.tuk ]; then
      kept_old=$((kept_old + 1))
      continue
    fi
    if cmp -s "$target" base.tuk; then kept_old=$((kept_old + 1)); fi
    if ! cmp -s "$target" base.tuk && ! cmp -s "$target" expected.tuk; then
      echo "FAILED: after a kill at ${delay} ms of: $road" >&2
      echo "  the archive is neither the old one nor the new one" >&2
      failed=$((failed + 1))
    elif ! "$tuk" verify "$target" >/dev/null; then
      echo "FAILED: tuk verify refuses the archive left by: $road" >&2
      failed=$((failed + 1))
    fi
  done
done

# How many kills came before the new archive was in place, and how many
# left a temporary file behind: a run where none did would prove little.
echo "($kept_old kills left the old archive, $left_tmp left a temporary file)"
echo "crash test: $((checked - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
