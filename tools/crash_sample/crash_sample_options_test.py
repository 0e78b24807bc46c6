#!/usr/bin/env python3
"""Options changed after the build, as a user changes them: `eldata options`
writes copies of the crash sample programs with other stored options,
`exlog info --json` must show them, and the copies must behave by them.

The behaviour checked is the error burst: with the burst check on, ten
errors within a minute end the process after the tenth report; with
BurstAction 1 the program is started again first, with the same command
line (seen in a start log the sample keeps when CRASH_SAMPLE_START_LOG names
one; the restarted copy sees the earlier start and ends quietly)."""
import argparse
import json
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_runs import (  # noqa: E402
    ARCHES, add_arch_argument, in_module, options_copy, report_line_pattern, report_lines as reports, run, verdict)

BURST_CHECK = 0x01
DEFAULT_BEHAVIOR = 0x30  # the defaults' main-module info and clipboard copy on failure


def burst_options(burst_action, extra=""):
    return ("DialogFlags = 0x1E\nStackFlags = 0x1F\n"
            f"BehaviorFlags = 0x{DEFAULT_BEHAVIOR | BURST_CHECK:02X}\n"
            f"BurstCount = 10\nBurstMinutes = 1\nBurstAction = {burst_action}\n" + extra)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the crash sample programs")
    parser.add_argument("--eldata", required=True)
    parser.add_argument("--exlog", required=True)
    add_arch_argument(parser)
    args = parser.parse_args()
    arch = ARCHES[args.arch]
    report_line = report_line_pattern(arch)
    problems = []
    work = tempfile.mkdtemp(prefix="crash-options-")
    try:
        # A long upload address does not fit where the old block was: the
        # block moves to a new section, and the program still finds it.
        long_address = "http://127.0.0.1/" + "a" * 3000
        options = {
            "terminate": burst_options(0),
            "restart": burst_options(1, f"UploadAddress = {long_address}\n"),
        }
        for program in ("crash_sample_console.exe", "crash_sample.exe"):
            for action, text in options.items():
                try:
                    copy = options_copy(args.eldata, os.path.join(args.bin, program), work, f"{action}-{program}", text)
                except RuntimeError as e:
                    problems.append(str(e))
                    continue
                code, text = run([args.exlog, "info", copy, "--json"])
                info = json.loads(text) if code == 0 else {}
                stored = info.get("Options", {})
                wanted = {"BurstCount": 10, "BurstMinutes": 1, "BurstAction": 1 if action == "restart" else 0}
                for key, value in wanted.items():
                    if stored.get(key) != value:
                        problems.append(f"{copy}: exlog shows {key} = {stored.get(key)!r}, expected {value}")
                if action == "restart" and stored.get("UploadAddress") != long_address:
                    problems.append(f"{copy}: the long upload address was not stored")
                # The debug data came along: the throw site still has its line,
                # in the program where its bitness puts it.
                code, output = run(args.run + [copy, "burst", "9"])
                lines = [report_line.match(line) for line in reports(output)]
                if len(lines) != 9 or "survived" not in output or code != 0 \
                        or not all(m and m.group(4).startswith("sample_faults_win.cpp:ThrowSampleError:")
                                   and in_module(int(m.group(3), 16), arch.program_base) for m in lines):
                    problems.append(f"{copy} burst 9: exit {code}, printed {output!r}")

                log = os.path.join(work, f"{action}-{program}.starts")
                env = dict(os.environ, CRASH_SAMPLE_START_LOG=log)
                code, output = run(args.run + [copy, "burst", "10"], env=env)
                if len(reports(output)) != 10 or "survived" in output or code != 1:
                    problems.append(f"{copy} burst 10: exit {code}, printed {output!r}")
                starts = []
                deadline = time.time() + (30 if action == "restart" else 3)
                while time.time() < deadline:
                    with open(log, encoding="latin-1") as f:
                        starts = [line for line in f.read().splitlines() if line]
                    if len(starts) >= 2:
                        break
                    time.sleep(0.2)
                expected_starts = 2 if action == "restart" else 1
                if len(starts) != expected_starts or len(set(starts)) != 1:
                    problems.append(f"{copy} burst 10: starts {starts!r}, expected {expected_starts} "
                                    "with the same command line")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict("options after the build", problems)


if __name__ == "__main__":
    sys.exit(main())
