#!/usr/bin/env python3
"""Runs exlog (the Linux build, or the Windows build through Wine) on the
stamped product DLL: "info --json" must be valid JSON with the module's
format, the block version, compile date and every option by name, the
numbered symbols must resolve to the application object's handlers (their
addresses as wide as the format's: 8 hex digits for PE32, 16 for PE32+),
and, given a second exlog, both builds must resolve the same addresses the
same way."""
import argparse
import json
import re
import subprocess
import sys


def run(command):
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    return out.replace("\r\n", "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exlog", nargs="+", required=True, help="command that runs exlog")
    parser.add_argument("--other-exlog", nargs="+", help="a second build to agree with")
    parser.add_argument("--dll", required=True)
    parser.add_argument("--format", choices=["PE32", "PE32+"], default="PE32")
    args = parser.parse_args()
    problems = []
    digits = 16 if args.format == "PE32+" else 8

    info = json.loads(run(args.exlog + ["info", args.dll, "--json"]))
    if set(info) != {"Module", "BlockVersion", "CompileDate", "Options"}:
        problems.append(f"info --json keys are {sorted(info)}")
    module = info.get("Module") or {}
    machine = "x86-64" if args.format == "PE32+" else "i386"
    if module.get("Format") != args.format or module.get("Machine") != machine or \
            not re.fullmatch(f"[0-9A-F]{{{digits}}}", str(module.get("ImageBase"))):
        problems.append(f"module {module}")
    if info.get("BlockVersion") != 504:
        problems.append(f"block version {info.get('BlockVersion')}")
    if not re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", str(info.get("CompileDate"))):
        problems.append(f"compile date {info.get('CompileDate')!r}")
    options = info.get("Options") or {}
    expected_types = {"SmtpServer": str, "SmtpPort": int, "SaveLog": bool, "StackFlags": int,
                      "ReportFields": int, "FilterClassNames": list, "Texts": list, "HtmlTemplate": str}
    for name, kind in expected_types.items():
        if not isinstance(options.get(name), kind) or (kind is int and isinstance(options.get(name), bool)):
            problems.append(f"option {name} is {options.get(name)!r}")
    # Every stored option; the module file name and Enabled are not stored.
    if len(options) != 43 or len(options.get("Texts", [])) != 96:
        problems.append(f"{len(options)} options, {len(options.get('Texts', []))} texts")
    if options.get("StackFlags") != 31:  # from band_options.conf
        problems.append("StackFlags is not the value of the options file")

    text = run(args.exlog + ["info", args.dll])
    symbols = dict(re.findall(rf"^Symbol (\d+): ([0-9A-F]{{{digits}}}),", text, re.M))
    expected = {"0": "HandleException", "1": "ShowException"}
    addresses = []
    for number, procedure in expected.items():
        if number not in symbols:
            problems.append(f"no numbered symbol {number}")
            continue
        fields = run(args.exlog + ["resolve", args.dll, "0x" + symbols[number]]).rstrip("\n").split("\t")
        if fields[1:4] != ["application_win.cpp", "TApplication", procedure]:
            problems.append(f"symbol {number} resolves to {fields}")
        start = int(symbols[number], 16)
        addresses += [f"{start + d:0{digits}X}" for d in range(0, 64, 3)]

    if args.other_exlog and addresses:
        ours = run(args.exlog + ["resolve", args.dll] + addresses)
        theirs = run(args.other_exlog + ["resolve", args.dll] + addresses)
        if ours != theirs:
            problems.append("the two exlog builds resolve differently")

    print(f"{args.dll}: block {info.get('BlockVersion')} of {info.get('CompileDate')}, {len(options)} options, "
          f"symbols {symbols}")
    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
