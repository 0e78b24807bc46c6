#!/usr/bin/env bash
# The main job as a test: `scripts/demo` on what is built, and an
# exception's whole road checked from what it prints. The band's TestError
# shows the exception dialog, which closes itself; the report is in the
# band's log and reaches the demo's local mail server with the log and the
# screenshot in a tar.gz; the pictures are valid PNGs.
#
#   demo_whole_road_test.sh SOURCE_ROOT BUILD_ROOT WINE_SESSION_SCRIPT 32|64
set -uo pipefail
root=$1 build_root=$2 session=$3 arch=$4

if [ -z "${VELLUM_WINE_SESSION:-}" ]; then
  [ "$arch" = 64 ] && export VELLUM_WINEARCH=win64
  exec "$session" "$build_root/win$arch/wineprefix" bash "$0" "$@"
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
arch_option=()
[ "$arch" = 32 ] && arch_option=(--32)
VELLUM_BUILD_ROOT=$build_root "$root/scripts/demo" "${arch_option[@]}" --no-build >"$out" 2>&1
rc=$?
tr -d '\r' <"$out" >"$out.txt" && mv "$out.txt" "$out"
cat "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ "$rc" -eq 0 ] || fail "scripts/demo exited with $rc"
expect_line() { grep -Eq "$1" "$out" || fail "no line matching: $1"; }
expect_line '^TestError: exception dialog shown: yes; picture: .*dialog\.png; closed by itself after [3-9]\.[0-9] s$'
expect_line '^TestError: menu item chosen: yes; band window still up: yes$'
expect_line '^OK: .*/dialog\.png \([0-9]+x[0-9]+, 8-bit palette'
expect_line $'^0\t[^\t]+\t[^\t]+\tEZeroDivide\tTest Error\\.$'
expect_line '^message 1\.eml: subject "VellumDeskBand error report", to developers@vellum\.example$'
expect_line '^  attachment CompressFiles\.tgz \([0-9]+ bytes\)$'
expect_line ' VellumDeskBand\.elf$'
expect_line ' Screenshot\.png$'
grep -q '^message 2\.eml' "$out" && fail "the report was mailed more than once"
[ "$failures" -eq 0 ] && echo "whole road: ok"
exit $((failures > 0))
