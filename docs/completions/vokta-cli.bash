# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for vokta-cli: commands, their options and option values, drive letters
# and file names.

_vokta_cli_commands='drives media boot read write compare format label info repair rescue'
_vokta_cli_globals='--drive --assume-yes -y --on-error --lang --json --quiet -q --help -h --version'

# The options of one command.
_vokta_cli_options() {
    case $1 in
        drives) echo '--hard-disks --show-subst --paths' ;;
        read) echo '--force' ;;
        write) echo '--no-verify --multi' ;;
        format) echo '--media --standard --optimized --quick --full --label --no-verify --multi' ;;
        info) echo '--save' ;;
        repair) echo '--boot --system --data' ;;
        rescue) echo '--map --passes --retries --revolutions' ;;
    esac
    echo '--help -h'
}

# What an option's value is: words to choose from, "file", "text", or nothing when the
# option takes no value.
_vokta_cli_value() {
    case $1 in
        --drive) echo binding ;;
        --on-error) echo 'abort retry ignore' ;;
        --lang) echo 'en it' ;;
        --media) echo 'auto 720k 1.2m 1.44m 1.68m 1.72m' ;;
        --boot) echo 'write stop' ;;
        --system) echo 'format checker stop' ;;
        --data) echo 'format track cylinder stop' ;;
        --save | --map) echo file ;;
        --passes | --retries | --revolutions) echo text ;;
        --label) echo text ;;
    esac
}

# The arguments of one command, in order: "drive", "file", "text" or words to choose from.
_vokta_cli_operands() {
    case $1 in
        media | format | info | repair) echo drive ;;
        boot) echo 'check|recreate drive' ;;
        read | rescue) echo 'drive file' ;;
        write | compare) echo 'file drive' ;;
        label) echo 'drive text' ;;
    esac
}

# The drive letters vokta-cli offers with the bindings given on the line; A: and B: when
# it cannot tell.
_vokta_cli_drives() {
    local cli=$1
    shift
    local letters
    letters=$("$cli" "$@" drives 2>/dev/null | sed -n 's/^\([A-Za-z]\):.*/\1:/p')
    echo "${letters:-A: B:}"
}

_vokta_cli_files() {
    local IFS=$'\n'
    COMPREPLY+=($(compgen -f -- "$1"))
    compopt -o filenames 2>/dev/null
}

# Bash splits a word at the characters of COMP_WORDBREAKS (':' and '=' among them) and
# replaces only what follows the last of them: the replies, whole words, leave out what
# stands before it.
_vokta_cli_trim_breaks() {
    local word=$1 i
    for ((i = ${#word} - 1; i >= 0; i--)); do
        [[ ${COMP_WORDBREAKS-} == *"${word:i:1}"* ]] && break
    done
    ((i < 0)) && return
    local head=${word:0:i+1} k
    for k in "${!COMPREPLY[@]}"; do
        COMPREPLY[k]=${COMPREPLY[k]#"$head"}
    done
}

_vokta_cli() {
    COMPREPLY=()
    # The words of the line up to the cursor, split at blanks only.
    local line=${COMP_LINE:0:${COMP_POINT:-${#COMP_LINE}}}
    local -a words
    read -ra words <<<"$line"
    [[ $line == *[[:blank:]] || ${#words[@]} -eq 0 ]] && words+=('')
    local cur=${words[-1]}
    local cli=${words[0]}
    command -v "$cli" >/dev/null 2>&1 || cli=vokta-cli

    local -a globals=()
    local command= expect= i=1
    local -a operands=()
    while ((i < ${#words[@]} - 1)); do
        local word=${words[i]}
        if [[ -n $expect ]]; then
            [[ $expect == --drive ]] && globals+=(--drive "$word")
            expect=
        elif [[ $word == -* ]]; then
            local name=${word%%=*}
            if [[ $word != *=* && -n $(_vokta_cli_value "$name") ]]; then
                expect=$name
            elif [[ -z $command && $name == --drive ]]; then
                globals+=("$word")
            fi
        elif [[ -z $command ]]; then
            command=$word
        else
            operands+=("$word")
        fi
        ((i++))
    done

    local value= word=$cur prefix=
    if [[ -n $expect ]]; then
        value=$(_vokta_cli_value "$expect")
    elif [[ $cur == --*=* ]]; then
        value=$(_vokta_cli_value "${cur%%=*}")
        prefix=${cur%%=*}=
        cur=${cur#*=}
    fi
    if [[ -n $value ]]; then
        case $value in
            file) _vokta_cli_files "$cur" ;;
            text) ;;
            binding)
                if [[ $cur == ?:=* ]]; then
                    prefix+=${cur:0:3}
                    _vokta_cli_files "${cur:3}"
                else
                    COMPREPLY=($(compgen -W 'A:= B:=' -- "$cur"))
                    compopt -o nospace 2>/dev/null
                fi
                ;;
            *) COMPREPLY=($(compgen -W "$value" -- "$cur")) ;;
        esac
        local k
        for k in "${!COMPREPLY[@]}"; do COMPREPLY[k]=$prefix${COMPREPLY[k]}; done
        _vokta_cli_trim_breaks "$word"
        return
    fi

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$_vokta_cli_globals" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$_vokta_cli_commands" -- "$cur"))
        fi
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_vokta_cli_options "$command")" -- "$cur"))
        return
    fi
    local -a kinds
    read -ra kinds <<<"$(_vokta_cli_operands "$command")"
    local kind=${kinds[${#operands[@]}]-}
    case $kind in
        drive) COMPREPLY=($(compgen -W "$(_vokta_cli_drives "$cli" "${globals[@]}")" -- "$cur")) ;;
        file) _vokta_cli_files "$cur" ;;
        *'|'*) COMPREPLY=($(compgen -W "${kind//|/ }" -- "$cur")) ;;
    esac
    _vokta_cli_trim_breaks "$cur"
}

complete -F _vokta_cli vokta-cli
