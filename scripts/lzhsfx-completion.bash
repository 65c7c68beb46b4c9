# bash completion for lzhsfx: commands, each command's options, --names and
# --overwrite values, and files (archives first where one is expected).
# tests/cli/test_help.py holds it to the options each command's --help lists.
_lzhsfx() {
  local cur prev cmd
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "l v t x p a d create info help --help --version" -- "$cur"))
    return
  fi
  cmd=${COMP_WORDS[1]}
  case "$prev" in
    -C) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --stub|--from-lzh|--message|--icon) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -m) COMPREPLY=($(compgen -W "lh0 lh5 lh6 lh7" -- "$cur")); return ;;
  esac
  local names="--names=auto --names=cp932 --names=utf-8"
  local overwrite="--overwrite --overwrite=ask --overwrite=always --overwrite=never"
  local opts
  case "$cmd" in
    l) opts="-v --utc -q $names" ;;
    v) opts="--utc -q $names" ;;
    t|p) opts="-q --stop-on-error $names" ;;
    x) opts="-C -y $overwrite --allow-unsafe-paths -q --stop-on-error $names" ;;
    a) opts="-m -9 --follow-symlinks -q" ;;
    d) opts="" ;;
    create) opts="--from-lzh --title --prompt --dir --run --auto $overwrite --wait --temporary --attributes --message --icon --version --stub --allow-unsafe-paths -q" ;;
    info) opts="" ;;
    help) COMPREPLY=($(compgen -W "l v t x p a d create info" -- "$cur")); return ;;
  esac
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$opts --help" -- "$cur"))
    return
  fi
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _lzhsfx lzhsfx
