#!/usr/bin/env bash
# tests/install/windows_zip.sh: the Windows ZIPs as a bench receives them, made with cpack from
# the build and unpacked: exactly the bench's files, the README naming the Windows the binaries
# are for, stripped binaries that import only system DLLs (and the tool the device library),
# their debug information in the -debug ZIP; then, under wine, the command file runs the tool
# against the virtual scanner, and a session recorded with the ZIP's recorder replays to the
# same standard error.
#   windows_zip.sh BUILD_DIR OBJDUMP WINE SYSTEM_NAME
# The caller provides WINEPREFIX (an initialised prefix) and WINEDEBUG as it likes.
set -euo pipefail
build=$(cd "$1" && pwd) objdump=$2 wine=$3 system=$4
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelvotest-zip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*"; exit 1; }

(cd "$build" && cpack -B "$scratch/packages" >/dev/null)
zip=$(echo "$scratch"/packages/kelvotest-*-"$system".zip)
name=$(basename "$zip" .zip)
[ -f "$zip" ] && [ -f "$scratch/packages/$name-debug.zip" ] || fail "no ZIP pair for $system: $(ls "$scratch/packages")"
mkdir -p "$scratch/unpacked/run"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip" && cmake -E tar xf "$scratch/packages/$name-debug.zip")
top=$scratch/unpacked/$name
[ -d "$top" ] || fail "$name.zip does not unpack into the folder $name: $(ls "$scratch/unpacked")"

binaries="kelvotest.exe kelvotrace.exe virtual/kelvotest.exe virtual/kelvoscanusb.dll recorder/kelvoscanusb.dll"
extras=""
# kelvotest-plan comes where the build had toml++ and nlohmann-json, with its sample plan.
if [ -f "$top/kelvotest-plan.exe" ]; then
  binaries="$binaries kelvotest-plan.exe"
  extras="examples/scanner-final-test.toml examples/station-final-test.toml examples/station.toml"
fi
expected=$(printf '%s\n' $binaries kelvotest-virtual.cmd README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt \
             virtual/scanner3.mcs recorder/kelvotest-record.cmd $extras $(printf '%s.debug ' $binaries) | sort)
found=$(cd "$top" && find . -type f | sed 's|^\./||' | sort)
[ "$found" = "$expected" ] || fail "the ZIPs hold, compared with what they should:
$(diff <(echo "$expected") <(echo "$found") || true)"

# The README, the ZIP's name and the binaries name the same Windows.
case $("$objdump" -f "$top/kelvotest.exe") in
  *pei-x86-64*) arch="64-bit Windows (x64)" arch_in_name=-x64 ;;
  *pei-i386*) arch="32-bit Windows (x86)" arch_in_name=-x86 ;;
  *) fail "kelvotest.exe is of no known architecture" ;;
esac
head -n 1 "$top/README.txt" | grep -q "for $arch" || fail "README.txt does not name $arch: $(head -n 1 "$top/README.txt")"
[[ $name == *"$arch_in_name"* ]] || fail "$name.zip does not name $arch"

# Bare Windows has no MinGW runtime DLLs; the debug information is in the .debug files only.
system_dlls='^(KERNEL32|msvcrt|USER32|ADVAPI32|WS2_32|api-ms-win-[a-z0-9-]+)\.dll$'
for binary in $binaries; do
  imports=$("$objdump" -p "$top/$binary" | sed -n 's/^\s*DLL Name: //p')
  allowed=$system_dlls
  [ "$(basename "$binary")" = kelvotest.exe ] && allowed="$system_dlls|^kelvoscanusb\.dll$"
  if echo "$imports" | grep -Evi "$allowed"; then fail "$binary imports DLLs that Windows does not ship (above)"; fi
  sections=$("$objdump" -h "$top/$binary")
  if grep -q "\.debug_info" <<<"$sections"; then fail "$binary is not stripped"; fi
  grep -q "\.gnu_debuglink" <<<"$sections" || fail "$binary has no link to its debug file"
  grep -q "\.debug_info" <<<"$("$objdump" -h "$top/$binary.debug")" || fail "$binary.debug holds no debug information"
done

# The command file runs the tool against the virtual scanner.
cd "$scratch/unpacked/run"
"$wine" cmd /c "..\\$name\\kelvotest-virtual.cmd" -rb 10 </dev/null >out.txt 2>err.txt || { cat err.txt; fail "kelvotest-virtual.cmd failed"; }
grep -q "ksutest: RegRead from Adr.16" err.txt && ! grep -q "Err. Init_Firmware" err.txt ||
  { cat err.txt; fail "kelvotest-virtual.cmd did not reach the virtual scanner"; }

# A session recorded with the ZIP's recorder in front of a library named by path, and replayed
# by the virtual scanner to the same standard error.
"$wine" cmd /c "..\\$name\\recorder\\kelvotest-record.cmd" --library "..\\$name\\virtual\\kelvoscanusb.dll" \
  session.kvtrace -- "..\\$name\\kelvotest.exe" -rb 10 -stat -adread </dev/null >out.txt 2>recorded.txt ||
  { cat recorded.txt; fail "recording failed"; }
KELVOSIM="replay = session.kvtrace" "$wine" cmd /c "..\\$name\\kelvotest-virtual.cmd" -rb 10 -stat -adread \
  </dev/null >out.txt 2>replayed.txt
# The virtual scanner's own lines ("kelvosim: ") name the library as each run loaded it.
grep -q "Init_Interface success" recorded.txt && grep -q "^kelvosim: virtual scanner" replayed.txt &&
  cmp <(grep -v '^kelvosim: ' recorded.txt) <(grep -v '^kelvosim: ' replayed.txt) ||
  { cat recorded.txt replayed.txt; fail "recording and replay differ"; }
"$wine" "..\\$name\\kelvotrace.exe" stats session.kvtrace </dev/null >out.txt || fail "kelvotrace failed"
echo "$name.zip: ok"
