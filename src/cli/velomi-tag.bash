# bash completion for velomi-tag
_velomi_tag() {
  local cur prev command i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} != -* ]]; then command=${COMP_WORDS[i]}; break; fi
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "show set rename tag-from-name convert fix-names undo --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --rule) COMPREPLY=($(compgen -W "1 2 3" -- "$cur")); return ;;
    --encoding) COMPREPLY=($(compgen -W "auto gbk big5 shift-jis cp1252" -- "$cur")); return ;;
    --format|--replace-with) return ;;
    --files-from) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --title|--artist|--album|--year|--comment|--track|--genre|--copyright|--url|--user-url|--lyrics|--encoded-by|--version)
      [[ $command == set ]] && return ;;
  esac
  if [[ $cur == -* ]]; then
    local options="--help"
    [[ $command != undo ]] && options+=" --recursive --files-from --null"
    case $command in
      show) options+=" --json" ;;
      set) options+=" --title --artist --album --year --comment --track --genre --copyright --url --user-url --lyrics --encoded-by --version --strict" ;;
      rename) options+=" --rule --format --replace-with --replace-windows --dry-run" ;;
      tag-from-name) options+=" --format --dry-run --json --strict" ;;
      convert) options+=" --encoding --dry-run --json" ;;
      fix-names) options+=" --encoding --dry-run" ;;
      undo) options+=" --list --forget" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  [[ $command == undo ]] && return
  local IFS=$'\n'
  # fix-names takes any file or folder: its garbled names are what it repairs.
  if [[ $command == fix-names ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return
  fi
  # Files and folders: folders, and MP3 and WMA files in any letter case.
  COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.@([mM][pP]3|[wW][mM][aA])' -- "$cur"))
}
shopt -s extglob
complete -o filenames -F _velomi_tag velomi-tag
