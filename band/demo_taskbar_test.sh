#!/usr/bin/env bash
# The demo taskbar as a test: registers the DLL with Wine's regsvr32, runs
# demo_taskbar.exe with the stand-in Vellum for two seconds, checks the shell
# conversation it prints, what the stand-in received (its answer to the band,
# the docking, the panel's size before and after the taskbar grew) and the
# screenshot, and unregisters the DLL whatever happened. On the way the
# demo chooses the band's hidden TestError: the band's exception subsystem
# reports it (its exception dialog, captioned with the subsystem's text
# "Error.") and the taskbar and the band's host link live on.
#
#   demo_taskbar_test.sh BIN_DIR WORK_DIR WINE_PREFIX WINE_SESSION_SCRIPT [--standin EXE]
#
# --standin runs another build's stand-in (the 32-bit one beside a 64-bit
# taskbar and band: handles and messages then cross the bitness boundary).
set -uo pipefail
args=("$@")
bin=$1 work=$2 prefix=$3 session=$4
standin=vellum_standin.exe mixed=0
shift 4
while [ $# -gt 0 ]; do
  case "$1" in
    --standin) standin="Z:${2//\//\\}"; mixed=1; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

# Outside a Wine session (ctest run on its own) make one for this test.
if [ -z "${VELLUM_WINE_SESSION:-}" ]; then
  exec "$session" "$prefix" bash "$0" "${args[@]}"
fi

rm -rf "$work" && mkdir -p "$work" || exit 1
win_work="Z:${work//\//\\}"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$bin" || exit 1
rm -f VellumDeskBand.elf
wine regsvr32 /s VellumDeskBand.dll || { echo "FAIL: regsvr32 VellumDeskBand.dll"; exit 1; }
trap 'wine regsvr32 /u /s VellumDeskBand.dll' EXIT

wine demo_taskbar.exe --vellum "$standin" --log "$win_work\\standin.log" --seconds 2 --test-error \
  --screenshot "$win_work\\taskbar.png" 2>&1 | tr -d '\r' >"$work/demo.out"
rc=${PIPESTATUS[0]}
echo "== demo taskbar (exit $rc)"; cat "$work/demo.out"
[ "$rc" -eq 0 ] || fail "demo_taskbar exited with $rc"

# The taskbar is 900 x 40 with a 56-pixel start button; it then grows by 20.
expect_line() { grep -Eq "$1" "$work/demo.out" || fail "no line matching: $1"; }
expect_line '^CoCreateInstance\(\{[0-9A-F-]+\}\): S_OK$'
expect_line '^SetSite: S_OK$'
expect_line '^GetBandInfo before GetWindow: E_NOTIMPL$'
expect_line '^GetWindow: S_OK, window [0-9A-Fa-f]+, parent is band area: yes$'
expect_line '^GetBandInfo: S_OK, min \(-1, -1\), max \(-1, -1\), actual \(844, 40\), mode flags 8,'
expect_line '^ShowDW\(TRUE\): S_OK$'
if [ "$mixed" = 1 ]; then
  expect_line '^stand-in Vellum started, 32-bit, taskbar 64-bit '
else
  expect_line '^stand-in Vellum started, (32|64)-bit, taskbar (32|64)-bit '
fi
expect_line '^TestError: menu item chosen: yes; report message boxes: 1 \(.*Test Error\..*\); band window still up: yes$'
expect_line '^screenshot saved: '
expect_line '^CloseDW: S_OK$'
expect_line '^SetSite\(nil\): S_OK$'
expect_line '^DllCanUnloadNow after Release, band window still up: S_FALSE$'

log="$work/standin.log"
if [ ! -f "$log" ]; then
  fail "the stand-in wrote no log"
else
  tr -d '\r' <"$log" >"$work/standin.txt"
  echo "== stand-in Vellum's log"; cat "$work/standin.txt"
  # Lines are "<tick> <event> <fields...>".
  band_window=$(sed -nE 's/^GetWindow: S_OK, window ([0-9A-Fa-f]+),.*/\1/p' "$work/demo.out")
  answer=$(awk '$2 == "answer" { print $3; exit }' "$work/standin.txt")
  if [ -z "$answer" ]; then
    fail "the stand-in never answered the band"
  elif [ -n "$band_window" ] && [ "$answer" != "$((16#$band_window))" ]; then
    fail "the stand-in answered window $answer, the band's window is $((16#$band_window))"
  fi
  awk '$2 == "docked"' "$work/standin.txt" | grep -q . || fail "the stand-in never docked"
  sizes=$(awk '$2 == "size" { print $3 "x" $4 }' "$work/standin.txt" | uniq | tr '\n' ' ')
  case " $sizes" in
    *" 844x40 "*"844x60 ") ;;
    *) fail "panel sizes were '$sizes', expected 844x40 and then 844x60 last" ;;
  esac
  awk '$2 == "answer" { a = NR } $2 == "docked" { d = NR } END { exit !(a && d && a < d) }' "$work/standin.txt" ||
    fail "the stand-in docked before it answered"
fi

# The band keeps its reports in a log beside it, named after the DLL as the
# user knows it (COM may have loaded it by its short path).
if [ ! -f VellumDeskBand.elf ]; then
  fail "no VellumDeskBand.elf beside the DLL: $(ls ./*.elf 2>/dev/null | tr '\n' ' ')"
else
  listing=$(wine exlog.exe list VellumDeskBand.elf | tr -d '\r')
  echo "== exlog list VellumDeskBand.elf"; echo "$listing"
  echo "$listing" | grep -Eq $'^0\t5\.0\.4\t.*\tEZeroDivide\tTest Error\.$' ||
    fail "the band's log does not hold the TestError report"
fi

png="$work/taskbar.png"
if [ ! -f "$png" ]; then
  fail "no screenshot"
else
  check=$(pngcheck "$png" 2>&1); echo "$check"
  case "$check" in
    OK:*"(900x60,"*) ;;
    *) fail "pngcheck: $check" ;;
  esac
fi

[ "$failures" -eq 0 ] && echo "demo taskbar: all checks passed"
exit $((failures > 0))
