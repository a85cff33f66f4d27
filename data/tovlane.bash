# bash completion for tovlane: the entry numbers and the options.
_tovlane() {
    local current=${COMP_WORDS[COMP_CWORD]} word
    # Options before the number: -v, -q and --print may be combined.
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in -v | --verbose | -q | --quiet | --print | --notify) ;; *) return ;; esac
    done
    local words="0 1 2 3 4 5 6 7 8 9 -v --verbose -q --quiet --print --notify"
    [ "$COMP_CWORD" -eq 1 ] && words+=" --help --version"
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$current")
}
complete -F _tovlane tovlane
