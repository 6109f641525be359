#!/bin/sh
# Each program's help and its man page name the same options; for tuk,
# each command's --help and its subsection of tuk(1).
#
#   tests/man_options_test.sh MANDIR TukPack tukUnpack tuk
#
# Options are compared by name: a single-dash option by its letter (the
# value may be joined to it, as in -i123), the levels -0..-9 as one.
set -u
man=$1 pack=$2 unpack=$3 tuk=$4
failed=0

normalize() { sed -E 's/^-([^-]).*/-\1/; s/^-[0-9]$/-N/' | sort -u; }

# Options named in a help text on standard input. "[-option]" stands for
# any of tukUnpack's options, so it names none.
help_options() {
  sed 's/\[-option\]//g' |
    grep -oE '(^|[^A-Za-z0-9_./:-])--?[A-Za-z0-9][A-Za-z0-9-]*' |
    sed -E 's/^[^-]*//' | normalize
}

# "section<TAB>option" for every Fl macro of an mdoc page, the section
# being the title of the subsection it stands in (empty outside one).
page_options() {
  awk '
    /^\.Sh / { section = "" }
    /^\.Ss / { section = $2; for (i = 3; i <= NF; i++) section = section " " $i }
    {
      for (i = 1; i < NF; i++) {
        if (($i == "Fl" || $i == ".Fl") && $(i + 1) ~ /^-?[A-Za-z0-9]/) {
          print section "\t-" $(i + 1)
        }
      }
    }' "$1"
}

compare() {  # what, help options, page options
  if [ "$2" != "$3" ]; then
    printf '%s: help names [%s], man page names [%s]\n' "$1" \
      "$(echo $2)" "$(echo $3)"
    failed=1
  fi
}

for program in "$pack" "$unpack"; do
  name=$(basename "$program")
  help=$("$program" </dev/null 2>&1 | help_options)
  page=$(page_options "$man/$name.1" | cut -f2 | normalize)
  compare "$name" "$help" "$page"
done

usage=$("$tuk" --help)
commands=$(printf '%s\n' "$usage" | sed -n '/^Commands:/,/^$/p' |
           sed -nE 's/^  ([a-z][a-z-]*) .*/\1/p')
# The subsections named by one lowercase word describe the commands.
sections=$(sed -nE 's/^\.Ss ([a-z][a-z-]*)$/\1/p' "$man/tuk.1")
for command in $commands; do
  grep -q "^\.Ss $command\$" "$man/tuk.1" ||
    { echo "tuk $command: no subsection in tuk.1"; failed=1; }
done
for section in $sections; do
  if ! help=$("$tuk" "$section" --help 2>/dev/null); then
    echo "tuk.1 describes $section, which this tuk does not have: not compared"
    continue
  fi
  help=$(printf '%s\n' "$help" | help_options)
  page=$(page_options "$man/tuk.1" | awk -F'\t' -v s="$section" '$1 == s { print $2 }' |
         normalize)
  compare "tuk $section" "$help" "$page"
done
# Options outside the commands' subsections are those of tuk --help.
global=$(page_options "$man/tuk.1" | grep -v '^[a-z][a-z-]*	' | cut -f2 | normalize)
missing=$(printf '%s\n' "$global" | grep -vxF -e "$(printf '%s\n' "$usage" | help_options)")
[ -z "$missing" ] || { echo "tuk --help does not name:" $missing; failed=1; }

exit "$failed"
