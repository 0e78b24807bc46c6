#!/usr/bin/env python3
"""Raises real faults in the crash sample under Wine, has it leave its full
reports in a folder (CRASH_SAMPLE_REPORT_DIR) and checks each report against
the layout rules (report_layout.py) and against what the machine says: the
computer and user name, memory and disk, up time, the processor, the
program's version, the module that raised, the raise site and its callers
in the order the sample calls them with their lines from addr2line on the
debug file, every entry's module against the modules' bases, the registers
of a fault and the dumped bytes against the module file's own bytes. A
64-bit program's reports (--arch x64) are checked in their own layout."""
import argparse
import datetime
import getpass
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_layout  # noqa: E402
from sample_runs import ARCHES, add_arch_argument  # noqa: E402

SOURCE = "sample_faults_win.cpp"
WINDOW_MAIN = "crash_sample_main_win.cpp"
CONSOLE_MAIN = "crash_sample_console_main_win.cpp"
# Frames of other modules (the system's message dispatch) between a caller
# and the procedure it reached.
SYSTEM = None
# fault -> (program, the raising thread's stack from the raise site on as
# (unit, procedure) of each caller in turn, as the sample's code calls them)
FAULTS = {
    "throw": ("crash_sample.exe", [(SOURCE, "ThrowSampleError"), (SOURCE, "RaiseFault"),
                                   (WINDOW_MAIN, "MainWindowProc"), SYSTEM, (WINDOW_MAIN, "WinMain")]),
    "av": ("crash_sample.exe", [(SOURCE, "ReadNull"), (SOURCE, "RaiseFault"), (WINDOW_MAIN, "MainWindowProc"),
                                SYSTEM, (WINDOW_MAIN, "WinMain")]),
    # The subsystem's hook of the class's Execute stands between it and the
    # thread's procedure.
    "thread": ("crash_sample.exe", [(SOURCE, "Execute"), ("thread_bookkeeping_win.cpp", "HookedExecute"),
                                    ("thread_win.cpp", "ThreadProc")]),
    "throw-console": ("crash_sample_console.exe", [(SOURCE, "ThrowSampleError"), (SOURCE, "RaiseFault"),
                                                   (CONSOLE_MAIN, "main")]),
}
# The main thread's own stack while it waits for the failing thread, from
# the system's wait on.
WAITING_MAIN_THREAD = [SYSTEM, ("thread_win.cpp", "WaitFor"), ("thread_win.cpp", "WaitFor"), (SOURCE, "RaiseFault"),
                       (WINDOW_MAIN, "MainWindowProc"), SYSTEM, (WINDOW_MAIN, "WinMain")]
DATE = re.compile(r"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat), (\d{1,2}) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                  r"(\d{4}) (\d\d):(\d\d):(\d\d) ([+-])(\d\d)00$")
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
ADDRESS = r"\d{3}\.\d{3}\.\d{3}\.\d{3}"


def parse_date(text):
    """The UTC time a report date stands for, checking its day name."""
    match = DATE.match(text)
    if not match:
        return None
    day_name, day, month, year, hour, minute, second, sign, zone = match.groups()
    local = datetime.datetime(int(year), MONTHS.index(month) + 1, int(day), int(hour), int(minute), int(second))
    if local.strftime("%a") != day_name:
        return None
    offset = datetime.timedelta(hours=int(zone)) * (-1 if sign == "-" else 1)
    return (local - offset).replace(tzinfo=datetime.timezone.utc)


class PeFile:
    """The sections of a PE32 or PE32+ file, to read what its image holds at
    an address."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<2xH12xH", self.data, pe + 4)
        optional = pe + 24
        magic, = struct.unpack_from("<H", self.data, optional)
        self.wide = magic == 0x20B
        self.image_base, = struct.unpack_from("<Q", self.data, optional + 24) if self.wide else \
            struct.unpack_from("<I", self.data, optional + 28)
        self.image_size, = struct.unpack_from("<I", self.data, optional + 56)
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            virtual_size, rva, raw_size, raw = struct.unpack_from("<4xIIII", self.data, at + 4)
            self.sections.append((rva, max(virtual_size, raw_size), raw, raw_size))

    def contains(self, address):
        return self.image_base <= address < self.image_base + self.image_size

    def read(self, address, size):
        rva = address - self.image_base
        for start, length, raw, raw_size in self.sections:
            if start <= rva and rva + size <= start + min(length, raw_size):
                return self.data[raw + rva - start:raw + rva - start + size]
        return None


def addr2line(arch, debug_file, address):
    out = subprocess.run([arch.tool_prefix + "addr2line", "-e", debug_file, f"{address:#x}"], capture_output=True,
                         text=True, check=True).stdout.strip()
    name, _, line = out.rpartition(":")
    line = re.match(r"\d+", line)
    return os.path.basename(name), int(line.group(0)) if line else 0


def meminfo(key):
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    return 0


def processor_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return ""


def gigabytes(value):
    return float(value.split()[0]) if value else None


def chain_entries(rows, chain, program, exact):
    """The rows of the raising thread's stack that stand for the frames of
    `chain` in turn, or why they are not there. An exact stack (64-bit:
    walked with the modules' unwind data) holds the chain's frames one after
    the other, with only other modules' frames where the chain says SYSTEM;
    a scanned one (32-bit) may hold stale return addresses between them, so
    there the frames need only come in their order, the first at the top."""
    found, at = [], 0
    for i, frame in enumerate(chain):
        if frame is SYSTEM:
            if exact:
                start = at
                while at < len(rows) and rows[at][1] != program:
                    at += 1
                if at == start:
                    return None, f"no frames of the system {f'after {chain[i - 1][1]}' if i else 'at the top'}"
            continue
        unit, procedure = frame
        start = at
        if not exact and i > 0:
            while at < len(rows) and (rows[at][2], rows[at][4]) != frame:
                at += 1
        if at >= len(rows):
            return None, f"{unit}:{procedure} not among the entries from {start} on"
        if (rows[at][2], rows[at][4]) != frame:
            return None, f"{unit}:{procedure} expected at entry {at}, found {rows[at]}"
        found.append(rows[at])
        at += 1
    return found, None


def check_chain(what, rows, chain, program, bin_dir, arch, problems):
    """The chain's frames in `rows`, each on the line addr2line gives for its
    address in the program's debug file."""
    frames, missing = chain_entries(rows, chain, program, exact=arch.name == "x64")
    if missing:
        problems.append(f"{what}: {missing}")
    for entry in frames or []:
        unit, line = addr2line(arch, os.path.join(bin_dir, program + ".debug"), int(entry[0], 16))
        if entry[2] != unit or entry[5].split("[")[0] != str(line):
            problems.append(f"{what}: entry {entry} against addr2line {unit}:{line}")


def module_at(modules, address):
    """The name of the module with the highest base at or below `address`."""
    below = [(int(row[0], 16), row[1]) for row in modules if int(row[0], 16) <= address]
    return max(below)[1] if below else ""


def check_report(fault, text, bin_dir, started, problems, arch):
    program, chain = FAULTS[fault]
    console = "console" in program
    report, layout = report_layout.parse(text, arch.digits)
    problems += [f"{fault}: layout: {p}" for p in layout]
    fields = {key: value for key, (_, value) in report.fields.items()}

    def expect(key, condition, what):
        if not condition:
            problems.append(f"{fault}: {key} {fields.get(key)!r}: {what}")

    # Application.
    exception_date = parse_date(fields.get("2.1", ""))
    start_date = parse_date(fields.get("1.1", ""))
    now = datetime.datetime.now(datetime.timezone.utc)
    expect("2.1", exception_date and started - datetime.timedelta(seconds=5) <= exception_date <= now,
           "not the time of the run")
    expect("1.1", start_date and exception_date and start_date <= exception_date, "after the exception")
    expect("1.2", fields.get("1.2") == "Vellum crash sample", "not the version resource's description")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "crash_sample.rc")) as f:
        version = re.search(r"FILEVERSION (\d+),(\d+),(\d+),(\d+)", f.read()).groups()
    expect("1.3", fields.get("1.3") == ".".join(version), "not the file version")
    expect("1.4", fields.get("1.4") == '"' + fault.split("-")[0] + '"', "not the parameters")
    compiled = parse_date(fields.get("1.5", ""))
    linked = datetime.datetime.fromtimestamp(os.path.getmtime(os.path.join(bin_dir, program)), datetime.timezone.utc)
    expect("1.5", compiled and linked - datetime.timedelta(hours=2) <= compiled <= linked + datetime.timedelta(hours=1),
           f"far from the program's link at {linked}")

    # Exception.
    pe = PeFile(os.path.join(bin_dir, program))
    expect("2.2", re.fullmatch(f"[0-9A-F]{{{arch.digits}}}", fields.get("2.2", "")), f"not {arch.digits} hex digits")
    address = int(fields.get("2.2") or "0", 16)
    expect("2.2", pe.contains(address), "outside the program's image")
    if pe.wide != (arch.name == "x64") or pe.image_base != arch.program_base:
        problems.append(f"{fault}: {program} is not the {arch.name} program at {arch.hex(arch.program_base)}")
    expect("2.3", fields.get("2.3") == program, "not the raising module")
    expect("2.4", fields.get("2.4") == ("EAccessViolation" if fault == "av" else "ESampleError"), "wrong class")
    expect("2.5", (fields.get("2.5") or "").endswith("."), "no final full stop")
    expect("3.1", ("3.1" in fields) != console, "active controls shown for a console program or hidden for a window")

    # The raise site, the first entry of the raising thread's own stack, and
    # its callers in turn, each on the line addr2line gives for its address.
    groups = report.groups
    if not groups or not groups[0].rows:
        problems.append(f"{fault}: no entries of the raising thread")
    else:
        first = groups[0].rows[0]
        expect("2.2", int(first[0], 16) == address, f"not the first call stack entry {first[0]}")
        check_chain(f"{fault}: raising thread's stack", groups[0].rows, chain, program, bin_dir, arch, problems)

    # Every entry lies in the module it names, by the modules' bases; the
    # program is where its bitness puts it.
    for group in groups:
        for entry in group.rows:
            if entry[1] and module_at(report.modules, int(entry[0], 16)) != entry[1]:
                problems.append(f"{fault}: entry {entry} lies in {module_at(report.modules, int(entry[0], 16))!r}")
    handles = [int(row[0], 16) for row in report.modules if row[1] == program]
    if handles != [arch.program_base]:
        problems.append(f"{fault}: modules list {program} at {[arch.hex(h) for h in handles]}")

    # Threads: the raising thread first, then the main thread's own stack.
    if fault == "thread":
        if len(groups) < 2 or groups[0].main or groups[0].class_name != "FailingThread":
            problems.append(f"{fault}: raising thread group {groups[:1]}")
        running = [g for g in groups if g.kind == "Running" and g.main]
        if not running or running[0].thread_id == groups[0].thread_id:
            problems.append(f"{fault}: no running group of the main thread")
        else:
            check_chain(f"{fault}: main thread's stack", running[0].rows, WAITING_MAIN_THREAD, program, bin_dir,
                        arch, problems)
    elif groups and not groups[0].main:
        problems.append(f"{fault}: the raising thread is not the main thread")

    # Computer.
    host = socket.gethostname().split(".")[0][:15]
    expect("4.1", (fields.get("4.1") or "").lower() == host.lower(), f"not the host name {host}")
    expect("4.2", fields.get("4.2") == getpass.getuser(), "not the user")
    total = meminfo("MemTotal")
    shown_total = int((fields.get("4.3") or "0 Mb").split()[0])
    expect("4.3", abs(shown_total - total / 1048576) <= total / 1048576 * 0.02, f"not {total // 1048576} Mb")
    shown_free = int((fields.get("4.4") or "0 Mb").split()[0])
    expect("4.4", 0 < shown_free <= shown_total, "not between 0 and the total")
    disk = shutil.disk_usage(bin_dir)
    expect("4.5", gigabytes(fields.get("4.5")) is not None and
           abs(gigabytes(fields.get("4.5")) - disk.total / 2**30) <= 0.01, f"not {disk.total / 2**30:.2f} Gb")
    expect("4.6", gigabytes(fields.get("4.6")) is not None and
           abs(gigabytes(fields.get("4.6")) - disk.free / 2**30) <= 1, f"not about {disk.free / 2**30:.2f} Gb")
    match = re.fullmatch(r"(?:(\d+) days?, )?(?:(\d+) hours?, )?(\d+) minutes?, (\d+) seconds?", fields.get("4.7", ""))
    with open("/proc/uptime") as f:
        up = float(f.read().split()[0])
    shown_up = sum(int(n or 0) * s for n, s in zip(match.groups(), (86400, 3600, 60, 1))) if match else -1
    expect("4.7", abs(shown_up - up) <= 120, f"not about {int(up)} s")
    expect("4.8", fields.get("4.8") == (processor_model() or "Unknown processor"), "not the processor's name")
    expect("4.9", re.fullmatch(r"\d+ x \d+, \d+ bit", fields.get("4.9", "")), "not a display mode")

    # Operating system and network.
    expect("5.1", (fields.get("5.1") or "").startswith("Microsoft Windows "), "not a system name")
    expect("5.2", re.fullmatch(r"\d+", fields.get("5.2", "")), "not a build number")
    expect("5.4", fields.get("5.4"), "no language")
    parts = [fields.get(f"6.{i}", "").split(" - ") for i in range(1, 7)]
    expect("6.1", len({len(p) for p in parts}) == 1, "the network fields list different numbers of adapters")
    for i, field_parts in enumerate(parts[:5], 1):
        expect(f"6.{i}", all(re.fullmatch(ADDRESS, p) for p in field_parts), "not padded addresses")
    expect("6.6", all(re.fullmatch(r"(ON|OFF) *", p) for p in parts[5]), "not DHCP states")

    # Processor section: a fault has its registers, a language exception none.
    registers = report.registers
    instruction, stack = ("RIP", "RSP") if arch.name == "x64" else ("EIP", "ESP")
    if fault == "av":
        expect("2.2", registers.get(instruction) == arch.hex(address),
               f"not {instruction} {registers.get(instruction)}")
        if report.dump and registers.get(stack) != arch.hex(report.dump[0][0]):
            problems.append(f"{fault}: the stack dump does not start at {stack}")
        # ReadNull is a leaf: the word at the stack pointer is its return
        # address, just past RaiseFault's call (a 5-byte relative call). The
        # dump shows the stack as the fault left it, not as the catch point's
        # calls overwrote it since.
        frames, _ = chain_entries(groups[0].rows if groups else [], chain, program, exact=arch.name == "x64")
        if report.dump and frames and len(frames) > 1 and report.dump[0][1] != int(frames[1][0], 16) + 5:
            problems.append(f"{fault}: the first stack word {arch.hex(report.dump[0][1])} is not the return address "
                            f"after RaiseFault's call at {frames[1][0]}")
    elif not registers or any(value.rstrip(" ") != "????" for value in registers.values()):
        problems.append(f"{fault}: registers {registers} without a context")
    if not report.dump:
        problems.append(f"{fault}: no memory dump")
    else:
        for i in (0, 15):
            _, _, at, data = report.dump[i]
            if at != address + 16 * i or data != pe.read(at, 16):
                problems.append(f"{fault}: dump line {i} at {arch.hex(at)} is not the module's bytes")


def run_fault(fault, run_command, bin_dir, folder):
    program, _ = FAULTS[fault]
    env = dict(os.environ, CRASH_SAMPLE_REPORT_DIR="Z:" + folder.replace("/", "\\"))
    done = subprocess.run(run_command + [os.path.join(bin_dir, program), fault.split("-")[0]], capture_output=True,
                          text=True, timeout=120, env=env)
    return done.returncode, done.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the crash sample programs")
    parser.add_argument("--keep", help="copy the reports here")
    add_arch_argument(parser)
    args = parser.parse_args()
    arch = ARCHES[args.arch]
    problems = []
    for fault, (program, _) in FAULTS.items():
        with tempfile.TemporaryDirectory() as folder:
            started = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
            time.sleep(0.01)
            returncode, output = run_fault(fault, args.run, args.bin, folder)
            stem = os.path.splitext(program)[0]
            files = sorted(f for f in os.listdir(folder) if f.startswith(stem + "-report-"))
            if returncode != 0 or len(files) != 1:
                problems.append(f"{fault}: exit code {returncode}, reports {files}, output {output!r}")
                continue
            with open(os.path.join(folder, files[0]), "rb") as f:
                text = f.read().decode("latin-1")
            if args.keep:
                shutil.copy(os.path.join(folder, files[0]), os.path.join(args.keep, f"{fault}.txt"))
            check_report(fault, text, args.bin, started, problems, arch)
    for problem in problems:
        print(problem)
    print("FAIL" if problems else f"OK: {len(FAULTS)} reports checked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
