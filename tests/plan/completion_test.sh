#!/usr/bin/env bash
# Drives the bash completion of kelvotest-plan the way bash does (see
# tests/support/completion_expect.sh): completion_test.sh FILE.
completion_function=_kelvotest_plan
. "$(dirname "$0")/../support/completion_expect.sh" "$1" || exit 1
mkdir runs && touch line.toml other.txt
expect "kelvotest-plan" "--v" "--version --virtual"
expect "kelvotest-plan" "--re" "--read --record --replay"
expect "kelvotest-plan" "" "line.toml runs"
expect "kelvotest-plan line.toml --out" "" "runs"
expect "kelvotest-plan line.toml --replay" "r" "runs"
expect "kelvotest-plan line.toml --serial" "" ""
[ $failures = 0 ] && echo "completion of kelvotest-plan: ok"
exit $failures
