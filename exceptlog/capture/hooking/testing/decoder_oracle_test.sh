#!/usr/bin/env bash
# Compares the instruction decoder with the reference disassembler on real
# binaries, instruction by instruction, and fails on any disagreement and on
# any binary that is missing: an absent file must never pass.
#
#   decoder_oracle_test.sh [--64] OBJDUMP CHECKER... -- INPUT...
#
# --64 checks 64-bit code (the inputs must be PE32+ files), otherwise 32-bit.
# CHECKER is the oracle program, with its runner in front when it is a Windows
# program. An INPUT is a path to a PE file, "glob:PATTERN" for files that may
# or may not exist (other folders' DLLs, when built), or "random:SEED:BYTES"
# for a deterministic block of random bytes, which reaches opcodes that
# compilers rarely emit.
set -euo pipefail

machine=i386
mode=()
if [ "${1:-}" = "--64" ]; then
  machine=i386:x86-64
  mode=(--64)
  shift
fi
objdump=$1; shift
checker=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do checker+=("$1"); shift; done
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || { echo "decoder oracle: no inputs given" >&2; exit 1; }
command -v "$objdump" >/dev/null || { echo "decoder oracle: $objdump not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
declare -A checked

check_file() {
  local file=$1
  local key
  key=$(realpath -m "$file")
  [ -z "${checked[$key]:-}" ] || return 0
  checked[$key]=1
  if [ ! -s "$file" ]; then
    echo "decoder oracle: missing binary $file"
    status=1
    return
  fi
  "$objdump" -d -z "$file" >"$work/listing"
  "${checker[@]}" "${mode[@]}" "$(basename "$file")" <"$work/listing" || status=1
}

check_random() {
  local seed=$1 size=$2
  python3 -c "import random,sys; r=random.Random($seed); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range($size)))" \
    >"$work/random.bin"
  "$objdump" -D -z -b binary -m "$machine" "$work/random.bin" >"$work/listing"
  "${checker[@]}" "${mode[@]}" "random bytes (seed $seed)" <"$work/listing" || status=1
}

for input in "$@"; do
  case $input in
    glob:*)
      shopt -s nullglob
      for file in ${input#glob:}; do check_file "$file"; done
      shopt -u nullglob
      ;;
    random:*)
      IFS=: read -r _ seed size <<<"$input"
      check_random "$seed" "$size"
      ;;
    *) check_file "$input" ;;
  esac
done
exit $status
