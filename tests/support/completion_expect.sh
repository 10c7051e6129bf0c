# tests/support/completion_expect.sh COMPLETION-FILE, sourced by a program's completion test
# after it set completion_function: loads bash-completion (unless BASH_COMPLETION_SCRIPT is
# set empty) and the program's completion, moves into a scratch folder of its own, and
# defines expect, which asks the completion function as bash would:
#   expect "words before the cursor" "word at the cursor" "expected offers, sorted"
# A folder is offered without its slash. $failures counts the offers that were not expected.
bash_completion=${BASH_COMPLETION_SCRIPT-/usr/share/bash-completion/bash_completion}
[ -n "$bash_completion" ] && [ -r "$bash_completion" ] && . "$bash_completion"
. "$1" || exit 1
work=$(mktemp -d) && cd "$work" || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
expect() {
    local -a words
    read -r -a words <<<"$1"
    COMP_WORDS=("${words[@]}" "$2")
    COMP_CWORD=${#words[@]}
    COMP_LINE="$1 $2"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$completion_function" "${words[0]}" "$2" "${words[-1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed 's|/$||' | sort | tr '\n' ' ')
    if [ "$got" != "$3 " ]; then
        echo "FAIL: '$1 $2<TAB>' offers [$got], expected [$3 ]"
        failures=$((failures + 1))
    fi
}
