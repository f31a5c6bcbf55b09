# bash completion of zorm5816-cli: commands, their options, register names,
# folders after --data-dir and files after --points.
# shellcheck shell=bash

_zorm5816_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local takes_value='--data-dir|--port|--address|--timeout-ms|--sensors|--count|--interval|--sensor|--points'
    local words=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == @($takes_value) ]]; then
            ((i++))
        elif [[ ${COMP_WORDS[i]} != -* ]]; then
            words+=("${COMP_WORDS[i]}")
        fi
    done
    COMPREPLY=()
    case $prev in
    --data-dir)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --points)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --sensor)
        mapfile -t COMPREPLY < <(compgen -W "1 2 3" -- "$cur")
        return
        ;;
    --address)
        mapfile -t COMPREPLY < <(compgen -W "1 2 3 4 5 6 7 8 9 10" -- "$cur")
        return
        ;;
    --port | --timeout-ms | --sensors | --count | --interval)
        return
        ;;
    esac

    # The command's options after a dash; otherwise what may stand there.
    local options='--data-dir --json --help' operands=
    case ${words[0]-} in
    '')
        options='--data-dir --json --help --version'
        operands='ports identify scan measure diagnostics register export fit'
        ;;
    identify | diagnostics) options+=' --port --address' ;;
    scan) options+=' --port --timeout-ms' ;;
    measure)
        options+=' --port --address --sensors --count --interval --raw --celsius --unfiltered'
        ;;
    fit) options+=' --sensor --points --commit --port --address --history' ;;
    register)
        options+=' --port --address'
        case ${words[1]-}:${#words[@]} in
        :1) operands='read write' ;;
        read:2) operands='status data mode filter offset gain' ;;
        write:2) operands='mode filter offset gain' ;;
        esac
        ;;
    esac
    local candidates=$operands
    [[ $cur == -* || -z $operands ]] && candidates=$options
    mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
}
complete -F _zorm5816_cli zorm5816-cli
