# bash completion for quillon-isp: its commands, its options, and file names
# for the images of write, read and verify.

_quillon_isp() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="identify write read verify fuses release parts"
    local options="--fast --truncate -h --help --version"
    local command="" files=0 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        -*) ;;
        *)
            if [[ -z $command ]]; then command=${COMP_WORDS[i]}; else files=$((files + 1)); fi
            ;;
        esac
    done
    COMPREPLY=()
    if [[ $cur == -* ]]; then
        # --help and --version stand alone.
        [[ -n $command ]] && options="--fast --truncate"
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    elif [[ $command == @(write|read|verify) ]] && ((files < 2)); then
        if declare -F _filedir >/dev/null; then
            _filedir
        else
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
    fi
}
complete -F _quillon_isp quillon-isp
