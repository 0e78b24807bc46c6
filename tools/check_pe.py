#!/usr/bin/env python3
"""Checks a built PE DLL: the architecture it was built for (32-bit i386 or
64-bit x86-64), imports only Windows system DLLs, and exports only undecorated
names. Reads objdump's private-header dump."""
import argparse
import re
import subprocess
import sys

# DLLs every Windows installation has; anything else would have to be shipped
# beside the band and loaded into Explorer, which we never want.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "uxtheme.dll",
    "shlwapi.dll", "wsock32.dll", "ws2_32.dll", "iphlpapi.dll", "version.dll",
    "msvcrt.dll", "psapi.dll", "mapi32.dll", "wininet.dll", "imagehlp.dll",
    "winmm.dll", "ntdll.dll", "rpcrt4.dll", "msimg32.dll",
}
ALLOWED_PREFIXES = ("api-ms-win-crt-",)
# objdump's name of each architecture's image format: a DLL of the other
# bitness would register but never load in the Explorer it is meant for.
FORMATS = {"x86": "pei-i386", "x64": "pei-x86-64"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--arch", choices=sorted(FORMATS), default="x86")
    parser.add_argument("dll")
    args = parser.parse_args()

    dump = subprocess.run([args.objdump, "-p", args.dll], check=True,
                          capture_output=True, text=True).stdout
    problems = []
    expected = FORMATS[args.arch]
    if f"file format {expected}\n" not in dump + "\n":
        problems.append(f"not a {expected} image")

    imports = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
    for name in imports:
        if name not in SYSTEM_DLLS and not name.startswith(ALLOWED_PREFIXES):
            problems.append(f"imports non-system DLL {name}")

    exports = []
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)(?:\n\n|\Z)", dump, re.S)
    if table:
        exports = re.findall(r"\]\s+(\S+)\s*$", table.group(1), re.M)
    for name in exports:
        if "@" in name or name.startswith("_Z") or name.startswith("?"):
            problems.append(f"exports decorated name {name}")

    print(f"{args.dll}: imports {', '.join(imports) or 'nothing'}; "
          f"exports {', '.join(exports) or 'nothing'}")
    for p in problems:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
