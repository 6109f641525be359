#!/usr/bin/env bash
# Runs the three programs of two builds on the same inputs and compares
# everything they leave: standard output, standard error, exit code, and
# every file of the work directory (archives byte for byte, extracted
# trees). For changes that must keep behaviour: an old build (a clean
# checkout of the commit before) against the new one.
#
#   tools/compare_programs.sh OLD_BUILD NEW_BUILD
#
# Both builds run in the same directory, one after the other, so paths in
# the output agree; " TimeTaken: N" is the only text normalised. Exits 1
# and shows the differences when any run differs.
set -euo pipefail

old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
work=${TMPDIR:-/tmp}/tuk-compare
results=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$results" "$work"' EXIT
root=$(cd "$(dirname "$0")/.." && pwd)

make_inputs() {
  local t=$work/in/tree
  mkdir -p "$t/gfx/deep" "$t/snd" "$t/Empty" "$work/in/other"
  cp -r "$root/sample/tree/." "$t/"
  python3 - "$t" <<'EOF'
import os, random, sys
t = sys.argv[1]
r = random.Random(7)
def put(name, data):
    with open(os.path.join(t, name), "wb") as f: f.write(data)
put("snd/exact256k.raw", bytes(r.getrandbits(8) for _ in range(262144)))
put("gfx/text400k.txt", b"".join(b"line %d of text %s\n" % (i, b"abc" * (i % 7)) for i in range(20000))[:400000])
put("gfx/deep/mixed700k.bin", bytes(r.getrandbits(8) for _ in range(350000)) + b"z" * 350000)
put("big9m.bin", (b"0123456789abcdef" * 65536 + bytes(r.getrandbits(8) for _ in range(65536))) * 8)
put("gfx/Zeta.dds", b"Z" * 33000)
put("gfx/alpha.dds", b"")
put("a", b"1")
EOF
  mkfifo "$t/snd/pipe"
  cp -r "$t/gfx" "$work/in/other/"
  printf 'changed\n' >"$work/in/other/gfx/Zeta.dds"
  printf 'garbage that is no archive\n' >"$work/in/garbage.tuk"
  head -c 1000 "$root/sample/sample.tuk" >"$work/in/cut.tuk"
  cp "$root/sample/sample.tuk" "$root/sample/sample-compressed.tuk" "$work/in/"
  printf 'sample/readme.txt\r\nnot/there \nx\n\nt/gfx/Zeta.dds\n' >"$work/in/list.lst"
}

# run NAME COMMAND...: one case, its outputs kept under $results/$build/NAME.
run() {
  local name=$1
  shift
  local dir=$results/$build/$name
  mkdir -p "$dir"
  set +e
  (cd "$work/cwd" && "$@") >"$dir/stdout" 2>"$dir/stderr" </dev/null
  echo $? >"$dir/exit"
  set -e
  sed -i -E 's/ TimeTaken: [0-9]+/ TimeTaken: X/' "$dir/stdout"
}

cases() {
  local b=$1 T=$1/pack/TukPack U=$1/unpack/tukUnpack K=$1/tuk/tuk w=$work
  mkdir -p "$w/cwd" "$w/x1" "$w/x2" "$w/x3" "$w/x4" "$w/x5" "$w/x6/t/gfx/Zeta.dds" "$w/tree2"
  run pack-new "$T" "$w/in/tree" t "$w/a.tuk"
  run pack-usage "$T" "$w/in/tree" t
  run pack-update-missing "$T" "$w/in/other" t "$w/u0.tuk" -u
  cp "$w/a.tuk" "$w/u1.tuk"
  run pack-update-mode0 "$T" "$w/in/other" t "$w/u1.tuk" -update
  cp "$w/in/sample-compressed.tuk" "$w/u2.tuk"
  run pack-update-mode1 "$T" "$w/in/other" sample "$w/u2.tuk" -u
  cp "$w/in/garbage.tuk" "$w/u3.tuk"
  run pack-update-garbage "$T" "$w/in/other" t "$w/u3.tuk" -u
  run pack-empty "$T" "$w/tree2" t "$w/none.tuk"
  mkdir -p "$w/byname/menu/x" "$w/byname/run"
  printf 'm' >"$w/byname/menu/x/m.txt"
  run pack-byname sh -c "cd '$w/byname/run' && '$T' menu"
  run unpack-all "$U" "$w/a.tuk" "$w/x1"
  run unpack-again "$U" "$w/a.tuk" "$w/x1"
  run unpack-dir-in-way "$U" "$w/a.tuk" "$w/x6"
  run unpack-index "$U" "$w/a.tuk" "$w/x2" -i3
  run unpack-index-bad "$U" "$w/a.tuk" "$w/x2" -i99
  run unpack-index-abc "$U" "$w/a.tuk" "$w/x2" -iabc
  run unpack-name "$U" "$w/a.tuk" "$w/x2" -ft/gfx/deep/mixed700k.bin
  run unpack-name-missing "$U" "$w/a.tuk" "$w/x2" -fno/such
  run unpack-list "$U" "$w/in/sample.tuk" "$w/x3" "-l$w/in/list.lst"
  run unpack-short-option "$U" "$w/a.tuk" "$w/x2" -i
  run unpack-bad-option "$U" "$w/a.tuk" "$w/x2" -q1
  run unpack-mode1 "$U" "$w/u2.tuk" "$w/x4"
  run unpack-cut "$U" "$w/in/cut.tuk" "$w/x5"
  run unpack-missing "$U" "$w/nothere.tuk" "$w/x5"
  run unpack-no-dir "$U" "$w/a.tuk" "$w/nodir"
  run unpack-usage "$U"
  [ -x "$K" ] || return 0
  run tuk-pack0 "$K" pack "$w/in/tree" t "$w/k0.tuk" -0
  run tuk-pack5 "$K" pack "$w/in/tree" t "$w/k5.tuk" -j 1
  run tuk-pack9 "$K" pack "$w/in/tree" t "$w/k9.tuk" -9 -j 2
  cp "$w/k5.tuk" "$w/k5u.tuk"
  run tuk-pack-update "$K" pack "$w/in/other" t "$w/k5u.tuk" --update -1
  run tuk-list "$K" list "$w/k5.tuk"
  run tuk-list-json "$K" list --json "$w/a.tuk"
  run tuk-list-cut "$K" list "$w/in/cut.tuk"
  run tuk-verify "$K" verify "$w/k9.tuk"
  run tuk-verify-cut "$K" verify "$w/in/cut.tuk"
  run tuk-extract "$K" extract "$w/k5.tuk" -C "$w/y1"
  run tuk-extract-names "$K" extract "$w/k5.tuk" -C "$w/y2" t/A T/GFX/zeta.dds no/such
  run tuk-cat "$K" cat "$w/k9.tuk" t/gfx/text400k.txt t/a
  run tuk-cat-missing "$K" cat "$w/k9.tuk" nope
  cp "$w/k5.tuk" "$w/r.tuk"
  run tuk-replace "$K" replace "$w/r.tuk" t/gfx/Zeta.dds "$w/in/other/gfx/Zeta.dds"
  run tuk-replace-add "$K" replace "$w/r.tuk" t/new.txt "$w/in/list.lst" -0
  cp "$w/a.tuk" "$w/rc.tuk"
  run tuk-recompress "$K" recompress "$w/rc.tuk" -3 -j 2
  run tuk-unpack-all "$K" unpack-all "$w/in/sample*.tuk" "$w/y3"
}

rm -rf "$work"
make_inputs
failed=0
for build in "$old" "$new"; do
  label=$([ "$build" = "$old" ] && echo old || echo new)
  rm -rf "$work/cwd" "$work"/*.tuk "$work"/x? "$work"/y? "$work/tree2" "$work/byname"
  build=$label
  cases "$([ "$label" = old ] && echo "$old" || echo "$new")"
  # Everything left in the work directory but the inputs.
  (cd "$work" && find . -path ./in -prune -o -type f -print | sort | while read -r f; do
     printf '%s %s\n' "$(md5sum <"$f" | cut -c1-32)" "$f"
   done) >"$results/$label/files"
done
if diff -r "$results/old" "$results/new" >"$results/diff"; then
  echo "same: $(ls "$results/new" | wc -l) runs printed the same bytes, exited alike and left the same files"
else
  cat "$results/diff"
  failed=1
fi
[ -z "${KEEP:-}" ] || echo "results in $results, work in $work"
exit $failed
