# bash completion for dattool: commands, options, archives, the directories
# of c and -C, the files and directories of u, and for l, x and d the paths
# inside the archive on the line,
# read with "dattool l -q" and offered with "/" between names, one level at
# a time, so that no backslash needs quoting.

_dattool_members() {
    local tool=$1 archive=$2 cur=$3
    # The archive as the shell would read it: a leading ~ expanded.
    [[ $archive == "~"* ]] && archive=$HOME${archive:1}
    [[ -f $archive ]] || return
    "$tool" l -q -- "$archive" 2>/dev/null | LC_ALL=C awk -v cur="$cur" '
        {
            gsub(/\\/, "/")
            if (substr($0, 1, length(cur)) != cur) next
            # Down to the next "/" after what is typed: one level at a time.
            rest = substr($0, length(cur) + 1)
            if (rest == "") next
            cut = index(rest, "/")
            name = cut ? cur substr(rest, 1, cut) : $0
            if (!(name in seen)) { seen[name] = 1; print name }
        }'
}

_dattool() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "c l x u d help --help -h --version" -- "$cur")
        return
    fi
    local command=${COMP_WORDS[1]:0:1} archive="" names=0 ended=0 i word
    # What stands before the word being completed: options, the archive,
    # and how many names follow it.
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((!ended)) && [[ $word == -- ]]; then
            ended=1
        elif ((!ended)) && [[ $word =~ ^-[qvh]*C$ ]]; then
            ((i++))
        elif ((!ended)) && [[ $word == -?* ]]; then
            :
        elif [[ -z $archive ]]; then
            archive=$word
        else
            ((names++))
        fi
    done
    if ((!ended)) && [[ $prev =~ ^-[qvh]*C$ ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
    fi
    if ((!ended)) && [[ $cur == -* ]]; then
        local options="-q --help --version --"
        case $command in
            l) options="$options -v" ;;
            c | x | u) options="$options -C" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    if [[ -z $archive ]]; then
        # An archive: .dat files, and directories to look in.
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[dD][aA][tT]' -- "$cur")
        return
    fi
    case $command in
        c)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            ;;
        u)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        l | x | d)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(_dattool_members "${COMP_WORDS[0]}" "$archive" "$cur")
            # A directory is completed into, not past.
            if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == */ ]]; then
                compopt -o nospace 2>/dev/null
            fi
            ;;
    esac
}

complete -F _dattool dattool
