#!/usr/bin/env python3
"""The log of real reports: a copy of the console crash sample that skips
duplicates and resets its log on a new version raises faults under Wine,
and its log file (beside it) is read from outside with exlog and xmllint.

- throw, throw again, av, divzero: three reports stored, the repeated one
  recognised as a duplicate and not stored;
- exlog list names them in order, exlog report gives one back as stored,
  exlog xml is well-formed XML with one Log element per report holding
  General, CallStack, Modules and CPU in that order, every address as wide
  as the program's (16 digits for a 64-bit one) and a fault's registers
  those of the program's processor;
- a log whose reports name another version of the program is reset by the
  next report."""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_runs import ARCHES, add_arch_argument, options_copy, report_lines, run, verdict  # noqa: E402

# lfSkipDuplicates, lfResetOnNewVersion and the two sections.
LOG_OPTIONS = "DialogFlags = 0x1E\nStackFlags = 0x1F\nLogFlags = 0x35\n"
VERSION_FIELD = re.compile(rb"(\r\n  1\.3 Version Number *: )([0-9.]+)")
# The faults raised, and which of them are stored.
FAULTS = ("throw", "throw", "av", "divzero")
STORED = ("throw", "av", "divzero")
REGISTERS = {
    "x86": ["EAX", "EBX", "ECX", "EDX", "EDI", "ESI", "ESP", "EIP"],
    "x64": ["RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "RBP", "RSP", "RIP",
            "R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15", "EFLAGS"],
}


def listing(exlog, log):
    code, output = run([exlog, "list", log])
    return code, [line.split("\t") for line in output.splitlines() if line]


def xml_problems(entry, fault, arch):
    """What is wrong with one Log element's addresses and registers."""
    problems = []
    address = re.compile(f"[0-9A-F]{{{arch.digits}}}")

    def addresses(path, attribute):
        return [line.get(attribute) for line in entry.iterfind(path)]

    for path, attribute in (("CallStack//Line", "Address"), ("Modules/Module", "Handle"),
                            ("CPU/Stack/Line", "Address"), ("CPU/MemoryDump/Line", "Address")):
        found = addresses(path, attribute)
        wrong = [value for value in found if not address.fullmatch(value or "")]
        if not found or wrong:
            problems.append(f"XML {fault}: {path} {attribute} {wrong[:3] or 'missing'}")
    stack = [int(value, 16) for value in addresses("CPU/Stack/Line", "Address") if address.fullmatch(value)]
    if len(stack) != 16 or any(b - a != arch.digits // 2 for a, b in zip(stack, stack[1:])):
        problems.append(f"XML {fault}: stack words at {[arch.hex(a) for a in stack[:3]]}...")
    registers = entry.find("CPU/Registers")
    names = list(registers.keys()) if registers is not None else None
    # A fault has its registers; a language exception none.
    if fault == "throw":
        if names != []:
            problems.append(f"XML {fault}: registers {names} without a context")
    elif sorted(names or []) != sorted(REGISTERS[arch.name]):
        problems.append(f"XML {fault}: registers {names}")
    else:
        instruction = "RIP" if arch.name == "x64" else "EIP"
        dump = addresses("CPU/MemoryDump/Line", "Address")
        if not dump or registers.get(instruction) != dump[0]:
            problems.append(f"XML {fault}: {instruction} {registers.get(instruction)}, dump at {dump[:1]}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--eldata", required=True)
    parser.add_argument("--exlog", required=True)
    add_arch_argument(parser)
    args = parser.parse_args()
    arch = ARCHES[args.arch]
    problems = []
    work = tempfile.mkdtemp(prefix="crash-log-")
    try:
        program = options_copy(args.eldata, os.path.join(args.bin, "crash_sample_console.exe"), work,
                               "crash_sample_console.exe", LOG_OPTIONS)
        for fault in FAULTS:
            code, output = run(args.run + [program, fault])
            if code != 0 or len(report_lines(output)) != 1:
                problems.append(f"{fault}: exit {code}, printed {output!r}")
        logs = glob.glob(os.path.join(work, "*.elf"))
        if len(logs) != 1:
            return verdict("the log of real reports", problems + [f"log files beside the program: {logs}"])
        log = logs[0]

        code, rows = listing(args.exlog, log)
        types = [row[3] if len(row) > 3 else "" for row in rows]
        if code != 0 or types != ["ESampleError", "EAccessViolation", "EDivByZero"]:
            problems.append(f"exlog list: exit {code}, rows {rows!r} (a repeat must not be stored)")

        code, newest = run([args.exlog, "report", log])
        if code != 0 or not newest.startswith("DeveruVuz 5.0.4\n") or "EDivByZero" not in newest:
            problems.append(f"exlog report: exit {code}, began {newest[:80]!r}")

        xml_file = os.path.join(work, "log.xml")
        code, output = run([args.exlog, "xml", log, "-o", xml_file])
        lint = subprocess.run(["xmllint", "--noout", xml_file], capture_output=True, text=True)
        if code != 0 or lint.returncode != 0:
            problems.append(f"exlog xml: exit {code} {output!r}; xmllint: {lint.stderr.strip()}")
        else:
            document = ElementTree.parse(xml_file).getroot()
            entries = list(document)
            if document.tag != "Doc" or [e.tag for e in entries] != ["Log"] * 3:
                problems.append(f"XML: root {document.tag} with {[e.tag for e in entries]}")
            for entry, fault in zip(entries, STORED):
                if [part.tag for part in entry] != ["General", "CallStack", "Modules", "CPU"]:
                    problems.append(f"XML: a Log element holds {[part.tag for part in entry]}")
                problems += xml_problems(entry, fault, arch)

        # The program as another version wrote these reports: the next one
        # starts the log afresh.
        with open(log, "rb") as f:
            text = f.read()
        older, count = VERSION_FIELD.subn(rb"\g<1>0.9.0.0", text)
        if count != 3:
            problems.append(f"the log holds {count} version fields, expected 3")
        with open(log, "wb") as f:
            f.write(older)
        code, output = run(args.run + [program, "av"])
        code, rows = listing(args.exlog, log)
        if [row[3] if len(row) > 3 else "" for row in rows] != ["EAccessViolation"] or \
                len(rows[0]) < 2 or rows[0][1] != "5.0.4":
            problems.append(f"after a new version: rows {rows!r}, expected the new report alone")
        with open(log, "rb") as f:
            if b"0.9.0.0" in f.read():
                problems.append("after a new version: the old version's reports are still in the log")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict("the log of real reports", problems)


if __name__ == "__main__":
    sys.exit(main())
