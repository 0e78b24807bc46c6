#!/usr/bin/env bash
# Every C++ file of the tree is as .clang-format has it. Lists the files that
# are not and exits 1; `tools/check_format.sh ROOT --fix` rewrites them.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
formatter=$(command -v clang-format-14 || command -v clang-format) || { echo "clang-format not found"; exit 2; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if [ "${2:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
unformatted=()
for f in "${files[@]}"; do
  "$formatter" --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
printf 'not formatted: %s\n' "${unformatted[@]}" | grep -v ': $'
echo "${#files[@]} files checked, ${#unformatted[@]} not formatted"
[ ${#unformatted[@]} -eq 0 ]
