#!/usr/bin/env bash
# The README's tour, run as a newcomer would run it: every indented command of the section
# "A tour" runs, in order, in one fresh folder, against this build, and must succeed.
# usage: readme_tour.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# The station's lock and the spool's outbox are this folder's, never the user's own.
export XDG_DATA_HOME="$work/data"

count=0
while IFS= read -r line; do
  command=${line#    }
  command=${command//build\/default\//$build/}
  command=${command//examples\//$source/examples/}
  count=$((count + 1))
  if ! output=$(timeout 120 bash -c "$command" </dev/null 2>&1); then
    echo "README command failed: ${line#    }"
    echo "$output" | tail -n 20
    exit 1
  fi
done < <(sed -n '/^## A tour/,/^## Installing/p' "$source/README.md" | grep -E '^    [^ ]')

[ "$count" -ge 10 ] || { echo "only $count commands found in the README's tour"; exit 1; }
echo "$count README commands ran"
