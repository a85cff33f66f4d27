# bash completion for tovlane: the entry numbers and the options.
_tovlane() {
    local current=${COMP_WORDS[COMP_CWORD]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5 6 7 8 9 -v --verbose --print --help --version" -- "$current")
    elif [ "$COMP_CWORD" -eq 2 ] && [[ ${COMP_WORDS[1]} == -v || ${COMP_WORDS[1]} == --verbose || ${COMP_WORDS[1]} == --print ]]; then
        mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$current")
    fi
}
complete -F _tovlane tovlane
