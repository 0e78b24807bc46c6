#!/usr/bin/env bash
# One libFuzzer target as a test: every seed first, then a few seconds of
# fuzzing from them, in a working corpus emptied each time so that a run
# depends on the seeds alone. Fails when the target crashes, leaks or times
# out, and when it has no seeds: a target nobody feeds is one nobody runs.
#   run_on_seeds.sh FUZZER SEED_FOLDER WORK_FOLDER [SECONDS]
# SECONDS defaults to $VELLUM_FUZZ_SECONDS, else 3.
set -uo pipefail
fuzzer=$1 seeds=$2 work=$3
seconds=${4:-${VELLUM_FUZZ_SECONDS:-3}}
name=$(basename "$fuzzer")

if ! compgen -G "$seeds/*" >/dev/null; then
  echo "$name has no seeds: give it a folder $seeds (see tools/fuzz/README.md)"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work/corpus"
# A fixed seed: the test command explores the same mutations on every run, so
# that a red run means a change, not luck; scripts/fuzz explores at random.
"$fuzzer" -seed="${VELLUM_FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$seeds" >"$work/log" 2>&1
status=$?
grep -E 'INFO: seed corpus|stat::number_of_executed_units' "$work/log"
if [ "$status" -ne 0 ]; then
  tail -40 "$work/log"
  echo "$name failed (exit $status); its log and any crashing input are in $work"
fi
exit "$status"
