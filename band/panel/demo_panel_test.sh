#!/usr/bin/env bash
# The demo taskbar's panel mode as a test: a taskbar without band support,
# rundll32 running the built DLL's TaskbarPanel on it and the stand-in Vellum
# docked. Checks what the demo prints (where the panel went, that it followed
# the taskbar), what the stand-in received and the picture.
#
#   demo_panel_test.sh BIN_DIR WORK_DIR WINE_PREFIX WINE_SESSION_SCRIPT [--standin EXE]
set -uo pipefail
args=("$@")
bin=$1 work=$2 prefix=$3 session=$4
standin=vellum_standin.exe
shift 4
while [ $# -gt 0 ]; do
  case "$1" in
    --standin) standin="Z:${2//\//\\}"; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

if [ -z "${VELLUM_WINE_SESSION:-}" ]; then
  exec "$session" "$prefix" bash "$0" "${args[@]}"
fi

rm -rf "$work" && mkdir -p "$work" || exit 1
win_work="Z:${work//\//\\}"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$bin" || exit 1
wine demo_taskbar.exe --panel --dll "Z:${bin//\//\\}\\VellumDeskBand.dll" --vellum "$standin" \
  --log "$win_work\\standin.log" --seconds 1 --screenshot "$win_work\\panel.png" 2>&1 | tr -d '\r' >"$work/demo.out"
rc=${PIPESTATUS[0]}
echo "== demo taskbar, panel mode (exit $rc)"; cat "$work/demo.out"
[ "$rc" -eq 0 ] || fail "demo_taskbar exited with $rc"

expect_line() { grep -Eq "$1" "$work/demo.out" || fail "no line matching: $1"; }
placed='inside the taskbar: yes; beside the notification area: yes; as tall as the taskbar: yes$'
expect_line "^taskbar panel at \([0-9]+, [0-9]+\)-\([0-9]+, [0-9]+\), 270 x 40; $placed"
expect_line '^the taskbar grew by 20 pixels: the panel followed after [0-9]+ ms$'
expect_line "^taskbar panel at \([0-9]+, [0-9]+\)-\([0-9]+, [0-9]+\), 270 x 60; $placed"
expect_line '^taskbar panel closed, rundll32 ended: yes$'

if [ ! -f "$work/standin.log" ]; then
  fail "the stand-in wrote no log"
else
  tr -d '\r' <"$work/standin.log" >"$work/standin.txt"
  echo "== stand-in Vellum's log"; cat "$work/standin.txt"
  awk '$2 == "docked"' "$work/standin.txt" | grep -q . || fail "the stand-in never docked into the panel"
  sizes=$(awk '$2 == "size" { print $3 "x" $4 }' "$work/standin.txt" | uniq | tr '\n' ' ')
  case " $sizes" in
    *" 270x40 "*"270x60 ") ;;
    *) fail "panel sizes were '$sizes', expected 270x40 and then 270x60 last" ;;
  esac
fi

if [ ! -f "$work/panel.png" ]; then
  fail "no picture"
else
  check=$(pngcheck "$work/panel.png" 2>&1); echo "$check"
  case "$check" in
    OK:*"(900x60,"*) ;;
    *) fail "pngcheck: $check" ;;
  esac
fi

[ "$failures" -eq 0 ] && echo "demo panel: all checks passed"
exit $((failures > 0))
