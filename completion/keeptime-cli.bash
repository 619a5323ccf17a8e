# Bash completion for keeptime-cli: its commands, each command's options, recordings
# (.wav, .WAV, .bwf, .BWF) and folders. Needs nothing from the bash-completion package.

# Fills COMPREPLY with the folders, and the recordings when $1 is "recordings", that start with $2.
_keeptime_cli_paths() {
    local path
    compopt -o filenames 2>/dev/null
    while IFS= read -r path; do
        if [[ -d $path ]]; then
            COMPREPLY+=("$path")
        elif [[ $1 == recordings ]]; then
            case $path in *.wav | *.WAV | *.bwf | *.BWF) COMPREPLY+=("$path") ;; esac
        fi
    done < <(compgen -f -- "$2")
}

_keeptime_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command="" i
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in info | trim | split | conform | peaks) command=${COMP_WORDS[i]} && break ;; esac
    done
    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "info trim split conform peaks --help --version" -- "$cur")
        return
    fi

    # The option before the cursor wants a value.
    case $command:$prev in
        trim:-o | trim:--output | split:-o | split:--output | conform:-o | conform:--output | conform:-m | conform:--media)
            _keeptime_cli_paths folders "$cur" && return ;;
        split:--list | conform:--report)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        split:--name) mapfile -t COMPREPLY < <(compgen -W "{file}_{n} {file}_{name} {scene}_{take}_{n}" -- "$cur") && return ;;
        conform:--fps) mapfile -t COMPREPLY < <(compgen -W "23.976 24 25 29.97 30 50 59.94 60" -- "$cur") && return ;;
        conform:--handles) return ;;
        peaks:-o | peaks:--output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        *:--tc-rate)
            mapfile -t COMPREPLY < <(compgen -W "23.976 24 25 29.97 29.97df 30 50 59.94df 60" -- "$cur")
            return ;;
        peaks:--bits) mapfile -t COMPREPLY < <(compgen -W "8 16" -- "$cur") && return ;;
        *:--start | *:--start-tc | *:--start-from-end | *:--start-frame | *:--end | *:--end-tc | \
            *:--end-from-end | *:--end-frame | *:--jobs | *:--every | *:--handles | *:--samples-per-pixel | *:--pixels-per-second)
            return ;;  # a time or a number: nothing to offer
    esac

    if [[ $cur == -* ]]; then
        local times="--tc-rate --seconds --weird-tc" options
        case $command in
            info) options="--json $times" ;;
            trim) options="-o --output --start --start-tc --start-from-end --start-frame --end --end-tc
                --end-from-end --end-frame --take --jobs --force -q --quiet --json --no-share $times" ;;
            split) options="-o --output --at-markers --regions --every --list --handles --name --take --jobs
                --force -q --quiet --json --no-share $times" ;;
            peaks) options="--samples-per-pixel --pixels-per-second --bits -o --output" ;;
            conform) options="-m --media -o --output --handles --fps --take --jobs --force --report --json -q --quiet
                --allow-missing" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "--help $options" -- "$cur")
        return
    fi
    if [[ $command == conform ]]; then  # the edit list
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    _keeptime_cli_paths recordings "$cur"
}
complete -F _keeptime_cli keeptime-cli
