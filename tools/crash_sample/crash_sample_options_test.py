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
import subprocess
import sys
import tempfile
import time

BURST_CHECK = 0x01
DEFAULT_BEHAVIOR = 0x30  # the defaults' main-module info and clipboard copy on failure


def options_file(folder, name, burst_action, extra=""):
    path = os.path.join(folder, name)
    with open(path, "w") as out:
        out.write("DialogFlags = 0x1E\nStackFlags = 0x1F\n")
        out.write(f"BehaviorFlags = 0x{DEFAULT_BEHAVIOR | BURST_CHECK:02X}\n")
        out.write(f"BurstCount = 10\nBurstMinutes = 1\nBurstAction = {burst_action}\n")
        out.write(extra)
    return path


def run(command, env=None, timeout=120):
    done = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    return done.returncode, done.stdout.replace("\r\n", "\n")


def reports(output):
    return [line for line in output.splitlines() if line.startswith("report:")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the crash sample programs")
    parser.add_argument("--eldata", required=True)
    parser.add_argument("--exlog", required=True)
    args = parser.parse_args()
    problems = []
    work = tempfile.mkdtemp(prefix="crash-options-")
    try:
        # A long upload address does not fit where the old block was: the
        # block moves to a new section, and the program still finds it.
        long_address = "http://127.0.0.1/" + "a" * 3000
        confs = {
            "terminate": options_file(work, "terminate.conf", 0),
            "restart": options_file(work, "restart.conf", 1, f"UploadAddress = {long_address}\n"),
        }
        for program in ("crash_sample_console.exe", "crash_sample.exe"):
            for action, conf in confs.items():
                copy = os.path.join(work, f"{action}-{program}")
                code, output = run([args.eldata, "options", os.path.join(args.bin, program), conf, "-o", copy])
                if code != 0:
                    problems.append(f"eldata options {program} {action}: exit {code}: {output}")
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
                # The debug data came along: the throw site still has its line.
                code, output = run(args.run + [copy, "burst", "9"])
                lines = reports(output)
                if len(lines) != 9 or "survived" not in output or code != 0 \
                        or not all("sample_faults_win.cpp:ThrowSampleError:" in line for line in lines):
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
    for problem in problems:
        print(problem)
    print("options after the build:", "ok" if not problems else f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
