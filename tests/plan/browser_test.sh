#!/bin/sh
# tests/plan/browser_test.sh PLAN-PROGRAM CHROMIUM WORK-DIR: runs a plan against the virtual
# scanner with a rail fault and a corrupted stream, renders its report.html in headless
# chromium to a PNG, and checks that the page logged nothing to the console, that the
# throughput plot with its first-error marks and the rails are in the rendered page, and that
# the picture was drawn; also that the reports validate against their schemas. Exit 77
# (skipped) without chromium.
set -u
program=$1 chromium=$2 work=$3
if [ -z "$chromium" ] || ! command -v "$chromium" >/dev/null 2>&1; then
    echo "SKIP: chromium not found (Debian: apt-get install chromium); the HTML report was not rendered"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

cat > plan.toml <<'PLAN'
name = "browser check"
[dut]
part = "SC-3"
[[step]]
name = "rails"
args = ["-adread", "-trd"]
[step.limits]
"adc.3v3" = [3.2, 3.4]
"adc.5v" = [4.75, 5.25]
"adc.24v" = [22.8, 25.2]
[[step]]
name = "stream"
args = ["-scan"]
duration = 4
[step.limits]
"stream.errors" = [0, 0]
"stream.rate" = { min = 1.5e6 }
PLAN
KELVOSIM="adc.ch1 = 2.9; stream.rate = 2000000; stream.fifo = 40000000; stream.corrupt = 1 every 3000000" \
    "$program" plan.toml --virtual --serial BROWSER1 --out out >plan.txt 2>&1
status=$?
[ "$status" = 1 ] || { cat plan.txt; fail "kelvotest-plan exited $status, not 1"; }

# The reports of this run against the schemas their readers use (tests/plan/schemas/).
here=$(cd "$(dirname "$0")" && pwd)
if command -v xmllint >/dev/null 2>&1; then
    xmllint --noout --schema "$here/schemas/junit-10.xsd" out/junit.xml || fail "junit.xml does not validate (above)"
fi
python3 "$here/validate_ocp.py" "$here/schemas/ocp" out/ocp.jsonl out/report.html || fail "ocp.jsonl or report.html does not validate (above)"

. "$here/../support/render_page.sh"
render_page "$chromium" "$work/out/report.html" "$work/report.png" 1100,2600
grep -q '<svg class="plot"' dom.html || fail "no throughput plot in the rendered page"
grep -q '<polyline class="series"' dom.html || fail "the plot has no line"
grep -q 'class="first-error"' dom.html || fail "the plot marks no first error"
grep -q '<svg class="rails"' dom.html || fail "no rails in the rendered page"
grep -q 'id="verdict">FAIL<' dom.html || fail "no verdict"
echo "report.html rendered: $work/report.png"
