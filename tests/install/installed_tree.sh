#!/usr/bin/env bash
# tests/install/installed_tree.sh: the installed tool as a user gets it, started from an
# unrelated folder: kelvotest-virtual works from anywhere, plain kelvotest takes the device
# library from the system's loader and nowhere else, a recorded session replays, the FPGA file
# generator, the man pages and the completion work where they are installed.
#   installed_tree.sh install BUILD_DIR SWAP_LIBRARY_DIR   the tree `cmake --install` leaves
#   installed_tree.sh package BUILD_DIR SWAP_LIBRARY_DIR   the Debian package: lintian, its
#                                                          dependencies, then the same checks
# SWAP_LIBRARY_DIR holds another build of the interface (the scripted fake), which accepts any
# FPGA file and reads 0 V, where the virtual scanner refuses a missing file.
set -euo pipefail
mode=$1 build=$(cd "$2" && pwd) swap_library=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelvotest-installed.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# check_installed BINDIR DATADIR
check_installed() {
  local bin=$1 data=$2
  mkdir -p "$scratch/run"
  # The virtual scanner's line naming its library, with the path taken out.
  without_library_path() {
    sed 's/^\(kelvosim: virtual scanner, not hardware (library \).*)$/\1PATH)/' "$1"
  }
  (
    cd "$scratch/run"
    fail() { echo "installed tree under $bin: $*"; cat out.txt err.txt 2>/dev/null; exit 1; }

    # kelvotest-virtual: the virtual scanner and its default FPGA file, nothing of its own.
    "$bin/kelvotest-virtual" -adread >out.txt 2>err.txt || fail "kelvotest-virtual failed"
    grep -q "Init_Interface success" err.txt && grep -q "AD Channel 3,3V in V: 3\.3" err.txt ||
      fail "kelvotest-virtual did not reach the virtual scanner"
    if grep -q "Err" err.txt; then fail "kelvotest-virtual reported an error"; fi
    virtual=$(find "$bin/.." -path '*/virtual/libkelvoscanusb.so.1')
    LD_LIBRARY_PATH=$(dirname "$virtual") "$bin/kelvotest" -adread >out2.txt 2>err2.txt ||
      fail "kelvotest with the virtual scanner on the loader's path failed"
    grep -q "^kelvosim: virtual scanner, not hardware (library /" err.txt ||
      fail "kelvotest-virtual did not say that it ran the virtual scanner"
    # Byte for byte, but for how each run spelled the library's path.
    cmp -s out.txt out2.txt && cmp -s <(without_library_path err.txt) <(without_library_path err2.txt) ||
      fail "kelvotest-virtual's transcript is not kelvotest's"

    # Plain kelvotest: no run-path, and without a device library the loader refuses it ...
    if readelf -d "$bin/kelvotest" | grep -q -E 'R(UN)?PATH'; then fail "kelvotest has a run-path"; fi
    status=0; "$bin/kelvotest" -adread >out.txt 2>err.txt || status=$?
    [ "$status" = 127 ] && grep -q "libkelvoscanusb.so.1: cannot open shared object file" err.txt ||
      fail "plain kelvotest found a device library on its own (status $status)"
    # ... and the library the loader is given is the one that answers.
    LD_LIBRARY_PATH=$swap_library "$bin/kelvotest" -ini nothere.mcs -adread >out.txt 2>err.txt ||
      fail "kelvotest with the swapped library failed"
    grep -q "AD Channel 3,3V in V: 0.000000" err.txt && ! grep -q "Err. Init_Firmware" err.txt ||
      fail "kelvotest did not use the library on the loader's path"
    LD_LIBRARY_PATH=$swap_library "$bin/kelvotest-virtual" -ini nothere.mcs >out.txt 2>err.txt
    grep -q "Err. Init_Firmware" err.txt || fail "kelvotest-virtual did not put the virtual scanner first"

    # A session recorded in front of a library and replayed by the virtual scanner.
    "$bin/kelvotest-record" --library "$virtual" session.kvtrace -- "$bin/kelvotest" -adread >out.txt 2>recorded.txt
    # The replay is the virtual scanner and says so; a recording of the scanner's own library
    # has no such line, so the lines of the virtual scanner ("kelvosim: ") are left out.
    KELVOSIM="replay = session.kvtrace" "$bin/kelvotest-virtual" -adread >out.txt 2>err.txt
    grep -q "^kelvosim: virtual scanner, not hardware" err.txt || fail "the replay did not say that it is virtual"
    cmp -s <(grep -v '^kelvosim: ' recorded.txt) <(grep -v '^kelvosim: ' err.txt) &&
      "$bin/kelvotrace" stats session.kvtrace >/dev/null ||
      fail "recording and replay differ"

    # The FPGA file generator, and the man pages as man finds and renders them.
    "$bin/../libexec/kelvotest/make_fpga_image" own.mcs
    "$bin/kelvotest-virtual" -ini own.mcs >out.txt 2>err.txt
    if grep -q "Err" err.txt; then fail "a generated FPGA file did not load"; fi
    # kelvotest-plan runs the sample plan against the installed kelvotest-virtual beside it.
    if [ -x "$bin/kelvotest-plan" ]; then
      "$bin/kelvotest-plan" --virtual --out plan-run "$data/doc/kelvotest/examples/scanner-final-test.toml" >out.txt 2>err.txt ||
        fail "the sample plan did not pass against the installed kelvotest-virtual"
      MANWIDTH=80 man --warnings -M "$data/man" 5 kelvotest-plan >out.txt 2>err.txt || fail "man 5 kelvotest-plan failed"
      [ ! -s err.txt ] && grep -q "^NAME" out.txt || fail "man 5 kelvotest-plan: warnings or no page"
      # The line's collector stores that run and shows it.
      if [ -x "$bin/kelvotest-line" ]; then
        "$bin/kelvotest-line" ingest --db line.db plan-run >out.txt 2>err.txt &&
          "$bin/kelvotest-line" runs --db line.db --format csv >out.txt 2>err.txt && [ "$(wc -l <out.txt)" = 2 ] ||
          fail "the installed kelvotest-line did not store the sample plan's run: $(cat err.txt)"
      fi
    fi
    for page in kelvotest kelvotest-virtual kelvotest-record kelvotrace $([ -x "$bin/kelvotest-plan" ] && echo kelvotest-plan) \
                $([ -x "$bin/kelvotest-line" ] && echo kelvotest-line); do
      MANWIDTH=80 man --warnings -M "$data/man" "$page" >out.txt 2>err.txt || fail "man $page failed"
      [ ! -s err.txt ] && grep -q "^NAME" out.txt || fail "man $page: warnings or no page"
    done
  )
  # bash-completion finds the completion of both commands where they are installed.
  "$source_dir/tests/completion/completion_test.sh" --data-dir "$data" >/dev/null
}

case $mode in
  install)
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    check_installed "$scratch/prefix/bin" "$scratch/prefix/share"
    ;;
  package)
    # lintian finds no error, the dependencies resolve on this machine, no device library
    # lands on the loader's path, and unpacked into a scratch root it passes the same checks.
    (cd "$build" && cpack -G DEB -B "$scratch/packages" >/dev/null)
    deb=$(echo "$scratch"/packages/kelvotest_*.deb)
    lintian --fail-on error --pedantic "$deb"
    apt-get install --simulate "$deb" >/dev/null
    if dpkg-deb -c "$deb" | grep -E ' \./(usr/)?lib(64)?/([^/]+/)?libkelvoscanusb'; then
      echo "the package puts a device library on the loader's path"; exit 1
    fi
    dpkg-deb -x "$deb" "$scratch/unpacked"
    check_installed "$scratch/unpacked/usr/bin" "$scratch/unpacked/usr/share"
    ;;
  *)
    echo "usage: $0 install|package BUILD_DIR SWAP_LIBRARY_DIR" >&2; exit 2
    ;;
esac
echo "$mode: ok"
