# bash completion for tuk: commands, each command's options, and for
# extract, cat, replace and delete the entry names of the archive on the
# line.

# The entry names of an archive, one a line, from `tuk list`.
_tuk_entries() {
  local archive=$2
  [[ $archive == "~/"* ]] && archive=$HOME/${archive#"~/"}
  "$1" list -- "$archive" 2>/dev/null |
    awk 'NR > 2 { sub(/^ *[0-9]+ +[0-9]+ +[0-9]+ +[^ ]+ +[0-9]+  /, ""); print }'
}

_tuk() {
  local cur prev words cword
  _init_completion || return

  local commands="list verify extract pack replace recompress unpack-all mount unmount cat diff delete convert"
  local compression="-0 -1 -2 -3 -4 -5 -6 -7 -8 -9 --level --fast --best -j"
  if [ "$cword" -eq 1 ]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local command=${words[1]}

  # Option values.
  case $prev in
    -C) _filedir -d; return ;;
    --files-from) _filedir; return ;;
    --level) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
    -j | --cache-size | --prefix | --include | --exclude | --strip-components) return ;;
  esac

  # The operands so far, options and their values left out.
  local operands=() i ended=
  for ((i = 2; i < cword; i++)); do
    if [ -z "$ended" ]; then
      case ${words[i]} in
        --) ended=1; continue ;;
        -C | --level | -j | --cache-size | --prefix | --include | --exclude | --files-from | \
          --strip-components) ((i++)); continue ;;
        -*) continue ;;
      esac
    fi
    operands+=("${words[i]}")
  done
  local n=${#operands[@]}

  local selection="--include --exclude --files-from --null"
  local overwrite="--keep --overwrite --newer"
  local options=
  case $command in
    list) options="--json $selection" ;;
    extract) options="-C $selection --strip-components $overwrite -v -q" ;;
    pack) options="--update --dry-run $compression $selection -v -q" ;;
    replace) options=$compression ;;
    recompress) options="$compression -v -q" ;;
    unpack-all) options="$overwrite -v -q" ;;
    cat) options=$selection ;;
    delete) options="-v -q" ;;
    mount) options="-f --cache-size" ;;
    convert) options="--prefix $compression" ;;
  esac
  if [ -z "$ended" ] && [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    return
  fi

  local IFS=$'\n'
  case $command:$n in
    list:0 | verify:0 | extract:0 | replace:0 | recompress:0 | mount:0 | cat:0 | diff:0 | delete:0)
      _filedir tuk ;;
    extract:* | cat:* | replace:1 | delete:*)
      COMPREPLY=($(compgen -W "$(_tuk_entries "${words[0]}" "${operands[0]}")" -- "$cur"))
      compopt -o filenames 2>/dev/null ;;
    pack:0 | unpack-all:1 | mount:1 | unmount:0 | diff:1) _filedir -d ;;
    pack:2) _filedir tuk ;;
    replace:2 | convert:0 | convert:1 | unpack-all:0) _filedir ;;
  esac
} &&
  complete -F _tuk tuk
