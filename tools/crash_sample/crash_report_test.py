#!/usr/bin/env python3
"""Raises real faults in the crash sample under Wine, has it leave its full
reports in a folder (CRASH_SAMPLE_REPORT_DIR) and checks each report against
the layout rules (report_layout.py) and against what the machine says: the
computer and user name, memory and disk, up time, the processor, the
program's version, the module that raised, the raise site's line from
addr2line on the debug file, the registers of a fault and the dumped bytes
against the module file's own bytes."""
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

SOURCE = "sample_faults_win.cpp"
# fault -> (program, procedure at the top of the raising thread's stack)
FAULTS = {
    "throw": ("crash_sample.exe", "ThrowSampleError"),
    "av": ("crash_sample.exe", "ReadNull"),
    "thread": ("crash_sample.exe", "Execute"),
    "throw-console": ("crash_sample_console.exe", "ThrowSampleError"),
}
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
    """The sections of a PE file, to read what its image holds at an address."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<2xH12xH", self.data, pe + 4)
        optional = pe + 24
        self.image_base, = struct.unpack_from("<I", self.data, optional + 28)
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


def addr2line(debug_file, address):
    out = subprocess.run(["i686-w64-mingw32-addr2line", "-e", debug_file, f"{address:#x}"], capture_output=True,
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


def check_report(fault, text, bin_dir, started, problems):
    program, top = FAULTS[fault]
    console = "console" in program
    report, layout = report_layout.parse(text)
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
    address = int(fields.get("2.2") or "0", 16)
    expect("2.2", pe.contains(address), "outside the program's image")
    expect("2.3", fields.get("2.3") == program, "not the raising module")
    expect("2.4", fields.get("2.4") == ("EAccessViolation" if fault == "av" else "ESampleError"), "wrong class")
    expect("2.5", (fields.get("2.5") or "").endswith("."), "no final full stop")
    expect("3.1", ("3.1" in fields) != console, "active controls shown for a console program or hidden for a window")

    # The raise site: the first entry of the raising thread's own stack.
    groups = report.groups
    if not groups or not groups[0].rows:
        problems.append(f"{fault}: no entries of the raising thread")
    else:
        first = groups[0].rows[0]
        unit, line = addr2line(os.path.join(bin_dir, program + ".debug"), int(first[0], 16))
        expect("2.2", int(first[0], 16) == address, f"not the first call stack entry {first[0]}")
        if first[2] != SOURCE or first[4] != top or unit != SOURCE or first[5].split("[")[0] != str(line):
            problems.append(f"{fault}: first entry {first} against addr2line {unit}:{line}")

    # Threads: the raising thread first, then the main thread's own stack.
    if fault == "thread":
        if len(groups) < 2 or groups[0].main or groups[0].class_name != "FailingThread":
            problems.append(f"{fault}: raising thread group {groups[:1]}")
        running = [g for g in groups if g.kind == "Running" and g.main]
        if not running or running[0].thread_id == groups[0].thread_id:
            problems.append(f"{fault}: no running group of the main thread")
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
    if fault == "av":
        expect("2.2", registers.get("EIP") == f"{address:08X}", f"not EIP {registers.get('EIP')}")
        if report.dump and registers.get("ESP") != f"{report.dump[0][0]:08X}":
            problems.append(f"{fault}: the stack dump does not start at ESP")
    elif set(registers.values()) != {"????    "}:
        problems.append(f"{fault}: registers {registers} without a context")
    if not report.dump:
        problems.append(f"{fault}: no memory dump")
    else:
        for i in (0, 15):
            _, _, at, data = report.dump[i]
            if at != address + 16 * i or data != pe.read(at, 16):
                problems.append(f"{fault}: dump line {i} at {at:08X} is not the module's bytes")


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
    args = parser.parse_args()
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
            check_report(fault, text, args.bin, started, problems)
    for problem in problems:
        print(problem)
    print("FAIL" if problems else f"OK: {len(FAULTS)} reports checked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
