# bash completion for credcheck: modes, options, user names for -l and -a,
# PAM services for --pam, files for --output, policies for --policy.

_credcheck() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local mode=${COMP_WORDS[1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W '-l -c -g -a --help --version' -- "$cur"))
        return
    fi
    case $mode in
    -l)
        case $COMP_CWORD in
        2) COMPREPLY=($(compgen -u -- "$cur")) ;;
        4) COMPREPLY=($(compgen -W '-g' -- "$cur")) ;;
        5) [[ $prev == -g ]] && COMPREPLY=($(compgen -W '1 2' -- "$cur")) ;;
        esac
        ;;
    -a)
        if [[ $prev == --output ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ $prev == --policy ]]; then
            COMPREPLY=($(compgen -W 'host cis stig' -- "$cur") $(compgen -f -- "$cur"))
        elif [[ $prev == --pam ]]; then
            local services=(/etc/pam.d/*)
            [[ -e ${services[0]} ]] &&
                COMPREPLY=($(compgen -W "${services[*]##*/}" -- "$cur"))
        elif ((COMP_CWORD == 2)); then
            COMPREPLY=($(compgen -W '--all' -- "$cur") $(compgen -u -- "$cur"))
        else
            # The options not given yet; --pam, --ssh and --costly only for a single user.
            local options=' --json --policy ' word
            if [[ ${COMP_WORDS[2]} != --all ]]; then
                options+=' --pam --ssh --costly '
            else
                options+=' --prometheus --output '
            fi
            for word in "${COMP_WORDS[@]:2:COMP_CWORD-2}"; do
                options=${options/ $word / }
            done
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        fi
        ;;
    esac
}
complete -F _credcheck credcheck
