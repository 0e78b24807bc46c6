#!/usr/bin/env python3
"""The freeze watchdog on real hangs: copies of the crash sample programs
with FreezeCheck on and a 2 s limit (written with `eldata options`) keep
their main thread busy for a while (`freeze SECONDS`) and must report the
hang exactly as often as the limit was reached, with the main thread's stack
showing the busy procedure at the top and its address in the program."""
import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_runs import (  # noqa: E402
    ARCHES, add_arch_argument, in_module, options_copy, report_line_pattern, report_lines as reports, run, verdict)

OPTIONS = "DialogFlags = 0x1E\nStackFlags = 0x1F\nFreezeCheck = true\nFreezeSeconds = 2\n"
FROZEN = "report: EFrozenApplication | The application seems to be frozen. | "
HANG_SITE = "sample_freeze_win.cpp:Freeze:"


def frozen_reports(output, arch):
    """The reports of the hang: raised where the main thread was busy, an
    address in the program with the process's width."""
    found = []
    for line in reports(output):
        match = report_line_pattern(arch).match(line)
        if match and line.startswith(FROZEN) and match.group(4).startswith(HANG_SITE) \
                and in_module(int(match.group(3), 16), arch.program_base):
            found.append(line)
    return found


def check(problems, what, code, output, wanted_reports, arch):
    lines = reports(output)
    low, high = wanted_reports
    if code != 0 or "survived" not in output or not low <= len(lines) <= high \
            or len(frozen_reports(output, arch)) != len(lines):
        problems.append(f"{what}: exit {code}, expected {low}..{high} freeze reports at {HANG_SITE}, "
                        f"printed {output!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the crash sample programs")
    parser.add_argument("--eldata", required=True)
    parser.add_argument("--exlog", required=True)
    add_arch_argument(parser)
    args = parser.parse_args()
    arch = ARCHES[args.arch]
    problems = []
    work = tempfile.mkdtemp(prefix="crash-freeze-")
    try:
        window = options_copy(args.eldata, os.path.join(args.bin, "crash_sample.exe"), work, "freeze.exe", OPTIONS)
        console = options_copy(args.eldata, os.path.join(args.bin, "crash_sample_console.exe"), work,
                               "freeze_console.exe", OPTIONS)

        # Shorter than the limit: nothing. Longer: once. Long enough for the
        # count to reach the limit again after the first report: again.
        for seconds, wanted in ((1, (0, 0)), (3, (1, 1)), (7, (2, 3))):
            code, output = run(args.run + [window, "freeze", str(seconds)])
            check(problems, f"freeze {seconds}", code, output, wanted, arch)

        # Switched off, a hang goes unnoticed; switched on, a new watchdog
        # reports the next one.
        code, output = run(args.run + [window, "freeze-switch", "3"])
        watchdogs = [line.split(": ", 1)[1] for line in output.splitlines() if line.startswith("watchdog: ")]
        check(problems, "freeze-switch 3", code, output, (1, 1), arch)
        if len(watchdogs) != 3 or watchdogs[1] != "none" or "none" in (watchdogs[0], watchdogs[2]) \
                or watchdogs[0] == watchdogs[2]:
            problems.append(f"freeze-switch: watchdogs {watchdogs!r}, expected one, none, another one")
        elif output.find(FROZEN) < output.find("watchdog: " + watchdogs[2]):
            problems.append(f"freeze-switch: reported while switched off: {output!r}")

        # No window to watch: a console program never reports a freeze.
        code, output = run([*args.run, console, "freeze", "3"])
        check(problems, "console freeze 3", code, output, (0, 0), arch)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict("freeze watchdog", problems)


if __name__ == "__main__":
    sys.exit(main())
