#!/usr/bin/env bash
# Drives the bash completion of kelvotest-line the way bash does (see
# tests/completion/completion_test.sh): completion_test.sh FILE.
bash_completion=${BASH_COMPLETION_SCRIPT-/usr/share/bash-completion/bash_completion}
[ -n "$bash_completion" ] && [ -r "$bash_completion" ] && . "$bash_completion"
. "$1" || exit 1
work=$(mktemp -d) && cd "$work" || exit 1
trap 'rm -rf "$work"' EXIT
mkdir spool && touch results.db
failures=0
expect() {
    local -a words
    read -r -a words <<<"$1"
    COMP_WORDS=("${words[@]}" "$2")
    COMP_CWORD=${#words[@]}
    COMP_LINE="$1 $2"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _kelvotest_line "${words[0]}" "$2" "${words[-1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed 's|/$||' | sort | tr '\n' ' ')
    if [ "$got" != "$3 " ]; then
        echo "FAIL: '$1 $2<TAB>' offers [$got], expected [$3 ]"
        failures=$((failures + 1))
    fi
}
expect "kelvotest-line" "" "--help --version capability history ingest pareto report runs watch yield"
expect "kelvotest-line" "h" "history"
expect "kelvotest-line watch" "--" "--db --once"
expect "kelvotest-line watch" "" "spool"
expect "kelvotest-line ingest" "" "results.db spool"
expect "kelvotest-line runs --db" "r" "results.db"
expect "kelvotest-line runs --result" "" "ABORTED FAIL PASS"
expect "kelvotest-line runs --format" "c" "csv"
expect "kelvotest-line history" "--" "--db --json"
expect "kelvotest-line history" "" ""
expect "kelvotest-line yield" "--" "--by --db --format --include-virtual --plan --since --station --until"
expect "kelvotest-line yield --by" "s" "shift station step"
expect "kelvotest-line report --by" "" "day shift"
expect "kelvotest-line report" "--" "--by --db --include-virtual --out --plan --since --station --until"
expect "kelvotest-line capability --format" "" "csv json text"
[ $failures = 0 ] && echo "completion of kelvotest-line: ok"
exit $failures
