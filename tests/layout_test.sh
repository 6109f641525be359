#!/bin/sh
# Includes run one way: each folder of the library includes only the
# folders below it (legacy -> jobs -> write, extract -> read -> format ->
# common -> codec, platform), the public headers only each other, and the
# tuk program only the public headers and its own.
#
#   tests/layout_test.sh SOURCE_DIR
set -u
cd "$1" || exit 2
failed=0

# check FOLDER ALLOWED...: every project include of FOLDER's files starts
# with one of the allowed folders.
check() {
  folder=$1
  shift
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [ -e "$file" ] || continue
    grep -o '^#include "[^"]*"' "$file" | sed 's/^#include "//; s/"$//' |
      while read -r included; do
        ok=0
        for allowed in "$@"; do
          case "$included" in "$allowed"/*) ok=1 ;; esac
        done
        # tuk/NAME is a public header (include/tuk) or, for the program,
        # one of its own; nothing else.
        case "$included" in
          tuk/*) [ -e "include/$included" ] || { [ "$folder" = tuk ] && [ -e "$included" ]; } || ok=0 ;;
        esac
        [ "$ok" = 1 ] || echo "$file includes $included"
      done
  done
}

below_common="codec platform tuk"
out=$( {
  check codec codec
  check platform platform
  check include/tuk tuk
  check archive/common archive/common $below_common
  check archive/format archive/format archive/common $below_common
  check archive/read archive/read archive/format archive/common $below_common
  check archive/write archive/write archive/read archive/format archive/common $below_common
  check archive/extract archive/extract archive/read archive/format archive/common $below_common
  check archive/jobs archive/jobs archive/write archive/extract archive/read archive/format \
        archive/common $below_common
  check archive/legacy archive/legacy archive/jobs archive/write archive/extract archive/read \
        archive/format archive/common $below_common
  check tuk tuk
} )
if [ -n "$out" ]; then
  echo "$out"
  failed=1
fi
exit "$failed"
