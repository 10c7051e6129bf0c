#!/bin/sh
# tests/line/report_browser_test.sh LINE-PROGRAM CHROMIUM DATA-DIR WORK-DIR: stores two runs of
# the example plan (a passing and a failing one, on the virtual scanner), writes the line
# report over them, renders it in headless chromium to a PNG, and checks that the page logged
# nothing to the console, fetched nothing, runs no script, and holds every plot: yield over
# time, the failure Pareto, each measurement's histogram and individuals chart, the stations,
# the marks of figures on fewer than 25 values, and the rules. Exit 77 (skipped) without chromium.
set -u
program=$1 chromium=$2 data=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

"$program" ingest --db line.db "$data/run1.jsonl" "$data/run2.jsonl" >ingest.txt 2>&1 || { cat ingest.txt; fail "ingest"; }
"$program" report --db line.db --since 2026-01-01 --include-virtual --out line.html >report.txt 2>&1 ||
    { cat report.txt; fail "kelvotest-line report"; }
[ -s line.html ] || fail "no line.html"
# The report is HTML alone: a format asked of it is refused, not ignored.
if "$program" report --db line.db --format csv --out other.html >format.txt 2>&1; then fail "report took --format"; fi
grep -q "unknown option --format" format.txt || { cat format.txt; fail "report's refusal of --format"; }
if [ -z "$chromium" ] || ! command -v "$chromium" >/dev/null 2>&1; then
    echo "SKIP: chromium not found (Debian: apt-get install chromium); the line report was not rendered"
    exit 77
fi

. "$here/../support/render_page.sh"
render_page "$chromium" "$work/line.html" "$work/line.png" 1160,3000
for plot in 'id="yield-0"' 'class="first-pass"' 'class="units"' 'id="pareto"' 'class="cumulative"' \
            'id="histogram-0"' 'class="bin"' 'class="limit"' 'id="individuals-0"' 'class="control"' \
            'id="stations"' 'class="few"' 'id="rules"' 'adc.3v3-low'; do
    grep -q "$plot" dom.html || fail "the rendered page lacks $plot"
done
grep -q 'virtual scanner and replays are included' dom.html || fail "the page does not say that virtual runs are in"
echo "line.html rendered: $work/line.png"
