# tests/support/render_page.sh (POSIX sh), sourced by the browser tests, which define fail: defines
#   render_page CHROMIUM PAGE PNG WIDTH,HEIGHT
# which renders PAGE (a file) in headless chromium to PNG and dumps its DOM into dom.html in
# the current folder, and fails the test when the page wrote to the console, fetched anything,
# or rendered to no real picture. Chromium runs with a fresh profile and no network of its own.
render_page() {
    local chromium=$1 page=$2 png=$3 size=$4 profile
    profile=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-chromium.XXXXXX") || exit 1
    local flags="--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
                 --disable-component-update --disable-sync --disable-dev-shm-usage --user-data-dir=$profile"
    # shellcheck disable=SC2086
    timeout 120 "$chromium" $flags --enable-logging=stderr --v=0 --window-size="$size" \
        --screenshot="$png" "file://$page" >screenshot.txt 2>&1 || { cat screenshot.txt; rm -rf "$profile"; fail "chromium did not render the page"; }
    # shellcheck disable=SC2086
    timeout 120 "$chromium" $flags --enable-logging=stderr --v=0 --dump-dom "file://$page" >dom.html 2>dom.txt ||
        { cat dom.txt; rm -rf "$profile"; fail "chromium did not load the page"; }
    rm -rf "$profile"
    if grep -h "CONSOLE" screenshot.txt dom.txt; then fail "the page wrote to the console (above)"; fi
    if grep -h -i "Failed to load\|ERR_FILE_NOT_FOUND\|net::ERR" screenshot.txt dom.txt; then fail "the page fetched something (above)"; fi
    [ -s "$png" ] || fail "no picture"
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$png is not a PNG"
    [ "$(wc -c <"$png")" -gt 20000 ] || fail "$png is nearly empty"
    if grep -q '<script' dom.html; then fail "the page has a script"; fi
}
