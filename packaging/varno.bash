# SPDX-License-Identifier: MIT
# bash completion for varno. The options are read from `varno --help`, so they are
# always the ones of the program being completed.
_varno() {
    local help
    help=$("$1" --help 2>/dev/null) || return
    # The value of an option (--dev COMMAND) is the user's to type.
    if [[ $3 == -* && $help == *"$3 "[A-Z]* ]]; then
        return
    fi
    local options
    options=$(grep -E '^  -' <<<"$help" | grep -oE -- '--[a-z][a-z-]*')
    # shellcheck disable=SC2207 # the options hold no spaces or glob characters
    COMPREPLY=($(compgen -W "$options" -- "$2"))
}
complete -F _varno varno
