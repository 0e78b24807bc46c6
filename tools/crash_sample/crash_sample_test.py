#!/usr/bin/env python3
"""Runs every fault of the crash sample programs under Wine and checks what
they print from outside: the number of reports, the class, that the address
lies in the faulting module, the unit and procedure at the top of the call
stack (the throw site, not the catch point), "survived" and the exit code.
The address has as many digits as the process's addresses, and the modules
lie where their bitness puts them (--arch).

The expected outcome of each fault is the table below."""
import argparse
import os
import re
import sys
from dataclasses import dataclass

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_runs import ARCHES, add_arch_argument, in_module, report_line_pattern, run, verdict  # noqa: E402


@dataclass
class Outcome:
    reports: int                # "report:" lines
    class_name: str = ""        # of the (first) report
    top: str = ""               # "unit:procedure" at the top of its stack
    in_library: bool = False    # the address lies in crash_sample_dll.dll, not in the program
    survives: bool = True       # prints "survived" and exits 0
    exit_code: int = 0


SAMPLE = "sample_faults_win.cpp"
LIBRARY = "crash_sample_dll_win.cpp"

# fault -> what the console and the windowed program print.
EXPECTED = {
    "throw": Outcome(1, "ESampleError", f"{SAMPLE}:ThrowSampleError"),
    "handled": Outcome(0),
    "abort-class": Outcome(0),
    "av": Outcome(1, "EAccessViolation", f"{SAMPLE}:ReadNull"),
    "divzero": Outcome(1, "EDivByZero", f"{SAMPLE}:DivideByZero"),
    "thread": Outcome(1, "ESampleError", f"{SAMPLE}:FailingThread.Execute"),
    "plain-thread": Outcome(1, "ESampleError", f"{SAMPLE}:FailingRoutine"),
    # The body of the method is a lambda inside it.
    "com": Outcome(1, "ESampleError", f"{SAMPLE}:<anonymous>.operator()"),
    "nested": Outcome(1, "EInvalidOperation", f"{SAMPLE}:RaiseFault"),
    "purecall": Outcome(1, "EAbstractError", "catch_points_win.cpp:__wrap___cxa_pure_virtual"),
    "abort": Outcome(1, "EProgramTermination", "catch_points_win.cpp:OnAbortSignal", survives=False, exit_code=3),
    "terminate": Outcome(1, "ESampleError", f"{SAMPLE}:ThrowSampleError", survives=False, exit_code=1),
    "stack-overflow": Outcome(1, "EStackOverflow", f"{SAMPLE}:Recurse", survives=False, exit_code=1),
    "burst 3": Outcome(3, "ESampleError", f"{SAMPLE}:ThrowSampleError"),
    "freeze 1": Outcome(0),
    "dll-fault": Outcome(1, "EAccessViolation", f"{LIBRARY}:ReadNullInLibrary", in_library=True),
}

# What Wine does differently. Wine 8 raises a 64-bit program's stack overflow
# with less than 2 KB of stack left, too little for its own exception
# dispatch: the program ends without any handler running, whatever stack it
# asked to keep in reserve (on Windows the reserve is there). The program
# must still end, silently, and not go on as if nothing happened.
UNDER_WINE = {
    "x64": {"stack-overflow": Outcome(0, survives=False, exit_code=0)},
}


def parsed_reports(output, arch):
    """The report lines in order, each a match of its four fields or None."""
    pattern = report_line_pattern(arch)
    return [pattern.match(line) for line in output.splitlines() if line.startswith("report:")]


def outside(address, base, arch):
    """Why the report's address does not lie in the module at `base`, or None."""
    if in_module(int(address, 16), base):
        return None
    return f"address {address} outside the module at {arch.hex(base)}"


def check(name, returncode, output, expected, arch):
    problems = []
    lines = output.splitlines()
    reports = parsed_reports(output, arch)
    if len(reports) != expected.reports:
        problems.append(f"{len(reports)} reports, expected {expected.reports}")
    if reports and expected.reports:
        first = reports[0]
        if first is None:
            problems.append(f"a report line without its four fields and a {arch.digits}-digit address")
        else:
            class_name, _, address, top = first.groups()
            if class_name != expected.class_name:
                problems.append(f"class {class_name}, expected {expected.class_name}")
            wrong_place = outside(address, arch.library_base if expected.in_library else arch.program_base, arch)
            if wrong_place:
                problems.append(wrong_place)
            if not top.startswith(expected.top + ":"):
                problems.append(f"top of stack {top}, expected {expected.top}:<line>")
            elif not re.search(r":\d+$", top) or top.endswith(":0"):
                problems.append(f"top of stack {top} has no line")
    survived = "survived" in lines
    if survived != expected.survives:
        problems.append("printed survived" if survived else "did not print survived")
    if returncode != expected.exit_code:
        problems.append(f"exit code {returncode}, expected {expected.exit_code}")
    return [f"{name}: {p}" for p in problems]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the crash sample programs")
    parser.add_argument("--only", help="one fault")
    add_arch_argument(parser)
    args = parser.parse_args()
    arch = ARCHES[args.arch]
    problems = []
    for fault, expected in EXPECTED.items():
        if args.only and fault != args.only:
            continue
        expected = UNDER_WINE.get(arch.name, {}).get(fault, expected)
        for program in ("crash_sample_console.exe", "crash_sample.exe"):
            returncode, output = run(args.run + [f"{args.bin}/{program}"] + fault.split())
            found = check(f"{program} {fault}", returncode, output, expected, arch)
            if fault == "com" and "com result: 80004005" not in output:
                found.append(f"{program} com: the method did not answer E_FAIL")
            if found:
                found.append(f"{program} {fault}: printed {output!r}")
            problems += found
    # A host without the subsystem: the library reports both of its faults.
    returncode, output = run(args.run + [f"{args.bin}/crash_sample_host.exe"])
    reports = parsed_reports(output, arch)
    tops = [m.group(4) for m in reports if m]
    if len(tops) != 2 or not tops[0].startswith(f"{LIBRARY}:ReadNullInLibrary:") \
            or not tops[1].startswith(f"{LIBRARY}:LibraryWindowProc:"):
        problems.append(f"crash_sample_host: printed {output!r}")
    problems += [f"crash_sample_host: {why}" for why in
                 (outside(m.group(3), arch.library_base, arch) for m in reports if m) if why]
    if "survived" not in output or returncode != 0:
        problems.append(f"crash_sample_host: exit code {returncode}, output {output!r}")
    # An error while the library initialises is reported in the loading
    # thread (no worker can start under the loader lock), by the library
    # itself even inside a program with the subsystem; the load completes.
    env = dict(os.environ, CRASH_SAMPLE_FAULT_AT_LOAD="1")
    for program, count in (("crash_sample_host.exe", 3), ("crash_sample_console.exe", 2)):
        arguments = [] if program == "crash_sample_host.exe" else ["dll-fault"]
        returncode, output = run(args.run + [f"{args.bin}/{program}"] + arguments, env=env)
        reports = parsed_reports(output, arch)
        if len(reports) != count or not reports[0] or reports[0].group(2) != "Error while the library initialises." \
                or "survived" not in output or returncode != 0:
            problems.append(f"{program} with a fault at load: exit code {returncode}, output {output!r}")
        elif outside(reports[0].group(3), arch.library_base, arch):
            problems.append(f"{program} with a fault at load: {outside(reports[0].group(3), arch.library_base, arch)}")
    return verdict("crash sample", problems)


if __name__ == "__main__":
    sys.exit(main())
