#!/usr/bin/env python3
"""Checks exlog's answers from the stored block against addr2line on the full
debug information: for addresses spread over the DLL's functions, the unit
(source file name), the line and the procedure (and its class) must agree.
Prints the agreement for all code and for the project's own sources, and
fails when the project's own code agrees less than --min-own."""
import argparse
import bisect
import os
import random
import re
import subprocess
import sys


def run(command, text_input=None):
    return subprocess.run(command, input=text_input, capture_output=True, text=True, check=True).stdout


def text_symbols(nm, debug_file):
    symbols = []
    for line in run([nm, "--defined-only", debug_file]).splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "Tt":
            symbols.append((int(parts[0], 16), parts[2]))
    symbols.sort()
    return symbols


def decoded_line_files(objdump, module):
    """(start, end, file) ranges from objdump's decoded line table: binutils'
    other DWARF reader, which numbers the files of DWARF 5 tables right."""
    ranges, previous = [], None
    row = re.compile(r"^(\S+)\s+(\d+|-)\s+(0x[0-9a-f]+)")
    for line in run([objdump, "--dwarf=decodedline", module]).splitlines():
        match = row.match(line)
        if not match:
            continue
        file, number, address = match.group(1), match.group(2), int(match.group(3), 16)
        if previous and address > previous[1]:
            ranges.append((previous[1], address, previous[0]))
        previous = None if number == "-" else (file, address)
    ranges.sort()
    return ranges


def file_at(ranges, starts, address):
    i = bisect.bisect_right(starts, address) - 1
    return ranges[i][2] if i >= 0 and ranges[i][0] <= address < ranges[i][1] else None


def bare_name(name):
    """A procedure's name without template arguments, ABI tags and stdcall size."""
    name = re.sub(r"\[abi:[^\]]*\]", "", name)
    name = re.sub(r"@\d+$", "", name)
    if not name.startswith("operator") and "<" in name:
        name = name[:name.index("<")]
    # An operator template: "operator-<T>" (the demangler and the DWARF spell
    # the arguments differently, and the stored name may be cut). The
    # operator's own "<" characters stay.
    return re.sub(r"^(operator(?:\(\)|\[\]|<=>|<<=|>>=|<<|>>|->\*|->|[-+*/%^&|~!=<>,]{1,2}))<(?![<=]).+$", r"\1", name)


def split_scope(name):
    """'a::b<c::d>::f' -> ['a', 'b<c::d>', 'f'] (only top-level '::')."""
    parts, depth, current, i = [], 0, "", 0
    while i < len(name):
        c = name[i]
        if c in "<({[":
            depth += 1
        elif c in ">)}]":
            depth -= 1
        if depth == 0 and name.startswith("::", i):
            parts.append(current)
            current, i = "", i + 2
            continue
        current += c
        i += 1
    parts.append(current)
    return parts


def without_parameters(name):
    """Drops the parameter list and qualifiers after it: 'A::f(int) const' -> 'A::f'."""
    name = re.sub(r" \[clone [^\]]*\]$", "", name)
    name = re.sub(r"@\d+$", "", name)  # stdcall argument size
    if not name.endswith(")") and not re.search(r"\) (const|volatile|&|&&)+$", name):
        return name
    depth = 0
    for i in range(len(name) - 1, -1, -1):
        if name[i] == ")":
            depth += 1
        elif name[i] == "(":
            depth -= 1
            if depth == 0:
                # "operator()" keeps its own parentheses.
                return name[:i] if not name[:i].endswith("operator") else name[:i] + "()"
    return name


def last_scope_part(function):
    """The procedure part of a demangled name, whatever precedes it: a
    template function's return type ('int ns::f<int>(int)'), also one that
    is a function pointer ('void (*ns::f<int>(char const*))(long)', also
    with a calling convention: 'void ( stdcall*ns::f<int>(char const*))(long)')."""
    name = re.sub(r" \[clone [^\]]*\]$", "", function)
    pointer = re.match(r"^[^(]*\((?:\s*\w+)?\s*\*(.*)\)\([^()]*\)$", name)
    if pointer:
        name = pointer.group(1)
    scope = split_scope(without_parameters(name))
    last = scope[-1]
    if "operator" in last:
        return scope, last[last.index("operator"):]
    depth, cut = 0, 0
    for i, c in enumerate(last):
        if c in "<({[":
            depth += 1
        elif c in ">)}]":
            depth -= 1
        elif c == " " and depth == 0:
            cut = i + 1
    return scope, last[cut:]


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exlog", "--addr2line", "--nm", "--cxxfilt", "--objdump", "--dll", "--debug", "--source-root"):
        parser.add_argument(option, required=True)
    parser.add_argument("--emulator", nargs="*", default=[])
    parser.add_argument("--count", type=int, default=400)
    parser.add_argument("--min-own", type=float, default=1.0)
    args = parser.parse_args()

    symbols = text_symbols(args.nm, args.debug)
    rng = random.Random(20240601)
    addresses = []
    while len(addresses) < args.count:
        index = rng.randrange(len(symbols) - 1)
        start, end = symbols[index][0], symbols[index + 1][0]
        if end > start:
            addresses.append(rng.randrange(start, min(end, start + 400)))

    oracle = run([args.addr2line, "-f", "-e", args.debug], "\n".join(f"{a:#x}" for a in addresses) + "\n").splitlines()
    functions, places = oracle[0::2], oracle[1::2]
    # The 32-bit addr2line drops the PE underscore of the linkage name and
    # then cannot demangle it; c++filt gets the name back with its
    # underscore. 64-bit names carry no such underscore, so a plain name that
    # starts with "Z" stays as it is when it does not demangle.
    mangled = ["_" + f if f.startswith("Z") else f for f in functions]
    demangled = run([args.cxxfilt], "\n".join(mangled) + "\n").splitlines()
    demangled = [f if d == m and m != f else d for f, m, d in zip(functions, mangled, demangled)]

    ours = run(args.emulator + [args.exlog, "resolve", args.dll] + [f"0x{a:X}" for a in addresses]).splitlines()
    if len(ours) != len(addresses):
        print(f"exlog answered {len(ours)} lines for {len(addresses)} addresses")
        return 1

    line_files = decoded_line_files(args.objdump, args.debug)
    starts = [r[0] for r in line_files]
    root = os.path.realpath(args.source_root)
    unit_by_objdump = 0
    counted = {"all": [0, 0], "own": [0, 0]}
    mismatches = []
    for address, function, place, answer in zip(addresses, demangled, places, ours):
        file, _, line = place.partition(" ")[0].rpartition(":")
        if file.startswith("??") or not line.isdigit() or line == "0":
            continue  # no line information: nothing to agree on
        fields = answer.rstrip("\r").split("\t")
        while len(fields) < 6:
            fields.append("")
        _, unit, class_name, procedure, our_line, _ = fields
        def unit_name(path):
            name = os.path.basename(path)
            return name if "." in name else name + ".pas"  # the reader's rule for names without a dot
        expected_unit = unit_name(file)
        unit_ok = unit == expected_unit
        if not unit_ok:
            # addr2line of binutils 2.40 takes entry 1 of a DWARF 5 file
            # table for the primary file; objdump's decoder does not.
            decoded = file_at(line_files, starts, address)
            unit_ok = decoded is not None and unit == unit_name(decoded)
            unit_by_objdump += unit_ok
        if function == "??":
            procedure_ok = procedure == ""
        else:
            scope, last = last_scope_part(function)
            procedure_ok = bare_name(procedure) == bare_name(last)
            # An inheriting constructor demangles as "Derived::Base"; its
            # declaration names it after the derived class.
            if not procedure_ok and len(scope) > 1 and procedure == class_name == bare_name(scope[-2]):
                procedure_ok = True
        agree = unit_ok and our_line == line and procedure_ok
        groups = ["all"] + (["own"] if os.path.realpath(file).startswith(root + os.sep) else [])
        for group in groups:
            counted[group][0] += agree
            counted[group][1] += 1
        if not agree:
            mismatches.append(f"  {address:08X}: addr2line {function} at {expected_unit}:{line}; "
                              f"exlog {unit} {class_name}.{procedure} line {our_line}")

    for group, (agreed, total) in counted.items():
        rate = agreed / total if total else 0.0
        print(f"{group}: {agreed}/{total} addresses agree ({rate:.1%})")
    print(f"units named as objdump's line decoder names them where addr2line differs: {unit_by_objdump}")
    for text in mismatches[:25]:
        print(text)
    agreed, total = counted["own"]
    if total == 0 or agreed / total < args.min_own:
        print("FAIL: the project's own code does not agree with addr2line well enough")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
