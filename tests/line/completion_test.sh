#!/usr/bin/env bash
# Drives the bash completion of kelvotest-line the way bash does (see
# tests/support/completion_expect.sh): completion_test.sh FILE.
completion_function=_kelvotest_line
. "$(dirname "$0")/../support/completion_expect.sh" "$1" || exit 1
mkdir spool && touch results.db
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
