# bash completion for quillon-isp: its commands, its options, and file names
# for the images of write, read and verify and their -flash and -eeprom forms.

_quillon_isp() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="identify write write-flash write-eeprom read read-flash read-eeprom verify
        verify-flash verify-eeprom erase fuses lock release parts cables"
    local options="--fast --truncate --allow-lockout --cable --simulate -h --help --version"
    local command="" files=0 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --cable) ((i++)) ;;
        -*) ;;
        *)
            if [[ -z $command ]]; then command=${COMP_WORDS[i]}; else files=$((files + 1)); fi
            ;;
        esac
    done
    COMPREPLY=()
    if [[ $cur == -* ]]; then
        # --help and --version stand alone.
        [[ -n $command ]] && options="--fast --truncate --allow-lockout --cable --simulate"
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    elif [[ ${COMP_WORDS[COMP_CWORD - 1]} == --cable ]]; then
        mapfile -t COMPREPLY < <(compgen -W "lpt sim gpio spidev ftdi serial arduino usbasp" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    elif { [[ $command == @(write|read|verify) ]] && ((files < 2)); } ||
        { [[ $command == @(write|read|verify)-@(flash|eeprom) ]] && ((files < 1)); }; then
        if declare -F _filedir >/dev/null; then
            _filedir
        else
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
    fi
}
complete -F _quillon_isp quillon-isp
