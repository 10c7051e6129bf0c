#!/usr/bin/env bash
# Drives the bash completion of kelvotest the way bash does: COMP_WORDS and COMP_CWORD set,
# the completion function called, COMPREPLY checked.
#   completion_test.sh FILE           the completion file itself
#   completion_test.sh --data-dir DIR an installed tree: bash-completion must find the file
#                                     for both commands under DIR/bash-completion/completions
# With bash-completion installed the function runs as in a user's shell (with _filedir);
# BASH_COMPLETION_SCRIPT= (empty) tests the function on its own, as in a shell without it.
bash_completion=${BASH_COMPLETION_SCRIPT-/usr/share/bash-completion/bash_completion}
if [ "$1" = --data-dir ]; then
    . "$bash_completion" || exit 1
    XDG_DATA_DIRS=$2
    for command in kelvotest kelvotest-virtual; do
        __load_completion "$command" || { echo "no completion found for $command under $2"; exit 1; }
    done
else
    [ -n "$bash_completion" ] && [ -r "$bash_completion" ] && . "$bash_completion"
    . "$1" || exit 1
fi

failures=0
# expect "words before the cursor" "word at the cursor" "expected offers, sorted, one line"
expect() {
    local -a words
    read -r -a words <<<"$1"
    COMP_WORDS=("${words[@]}" "$2")
    COMP_CWORD=${#words[@]}
    COMP_LINE="$1 $2"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    completion_options=
    _kelvotest "${words[0]}" "$2" "${words[-1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    if [ "$got" != "$3 " ]; then
        echo "FAIL: '$1 $2<TAB>' offers [$got], expected [$3 ]"
        failures=$((failures + 1))
    fi
}

# Outside a completion compopt does nothing; here it records what readline would be told.
compopt() {
    local IFS=' '
    completion_options+=" $*"
}

# A file name is offered as readline must quote it: with -o filenames, a name with a blank is
# inserted escaped or inside the quote already typed, never as two words.
expect_file() {
    expect "$@"
    if [[ $completion_options != *"-o filenames"* ]]; then
        echo "FAIL: '$1 $2<TAB>' offers file names without -o filenames"
        failures=$((failures + 1))
    fi
}

for command in kelvotest kelvotest-virtual; do
    complete -p "$command" | grep -q -- '-F _kelvotest' || { echo "FAIL: $command has no completion"; exit 1; }
done

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
touch -- image.iic 'my scan.bin' -b  # -b must not turn up as an option: "-?" is no pattern here

all=$(printf '%s\n' '-?' -rb -rw -rwi -rd -rdi -wb -ww -wwi -wd -wdi -val -prg -ini -scanfile \
      -scan -id -wre -rde -dumpe -iictest -stat -dao -adread -tinit -trd -motor -lines | sort | tr '\n' ' ')
expect "kelvotest" "-" "${all% }"
expect "kelvotest" "" "${all% }"
expect "kelvotest-virtual -adread" "-" "${all% }"
expect "kelvotest" "-s" "-scan -scanfile -stat"
expect "kelvotest" "-rw" "-rw -rwi"
expect "kelvotest -id" "" "a0 a2"
expect "kelvotest -dumpe /id" "a" "a0 a2"
expect "kelvotest -rb" "" ""
expect "kelvotest -val" "-" ""
expect_file "kelvotest -ini" "im" "image.iic"
expect_file "kelvotest -prg" "my" "my scan.bin"
expect_file "kelvotest -prg" 'my\ s' "my scan.bin"
expect_file "kelvotest -prg" '"my s' "my scan.bin"
expect_file "kelvotest -prg" "'my" "my scan.bin"
expect_file "kelvotest-virtual -scanfile" "" "-b image.iic my scan.bin"
expect "kelvotest" "image" ""

[ "$(wc -w <<<"$all")" -eq 28 ] || { echo "FAIL: the option list is not the table's 28"; exit 1; }
[ $failures -eq 0 ] && echo "completion: ok"
exit $((failures != 0))
