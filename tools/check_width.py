#!/usr/bin/env python3
"""Checks that the code holds pointers and handles at their full width in the
64-bit build as in the 32-bit one. The compilers refuse a pointer cast straight
to a smaller integer and warn on an integer of another size cast to a pointer;
what they cannot see is the same truncation done in two steps, the 32-bit
window and class data functions, and a 32-bit value widened into a handle
without its sign. This catches those from the text:

- window, class and dialog data that hold a pointer or handle read or
  written through their 32-bit index (GWL_USERDATA, GCL_HICON, DWL_USER...);
  GWLP_/GCLP_/DWLP_ with the *LongPtr functions are the width-safe ones;
- a pointer turned into an integer and then narrowed to 32 bits or fewer;
- an integer zero-extended into a handle or pointer.

A line may do one of these on purpose when a comment on it, or the comment
just above it, says why after "width:". Files listed in ALLOWED do it throughout, for
the reason given.

Prints one line per finding and exits 1 when there is any."""
import argparse
import pathlib
import re
import sys

# Files that may do these throughout, with the reason. None so far: a
# narrowing on purpose says why where it happens.
ALLOWED = {}

NARROW_TYPES = r"(?:std::)?(?:u?int(?:8|16|32)_t|DWORD|LONG|ULONG|UINT|INT|WORD|int|unsigned(?:\s+int)?|long|short)"
WIDE_UNSIGNED = r"(?:UINT_PTR|ULONG_PTR|DWORD_PTR|SIZE_T|(?:std::)?uintptr_t|(?:std::)?size_t)"
HANDLE_TYPES = r"(?:HWND|HANDLE|HMODULE|HINSTANCE|HKEY|HMENU|HDC|HGDIOBJ|HICON|HHOOK|void\s*\*|[A-Za-z_:]+\s*\*)"

RULES = [
    # Styles are 32 bits in every build; these indices name pointers.
    (re.compile(r"\b(?:GWL_(?:WNDPROC|HINSTANCE|HWNDPARENT|USERDATA|ID)|"
                r"GCL_(?:MENUNAME|HBRBACKGROUND|HCURSOR|HICON|HICONSM|HMODULE|WNDPROC)|DWL_[A-Z]+)\b"),
     "a pointer-sized window or class datum read through its 32-bit index: use the *LongPtr form and its P index"),
    (re.compile(r"static_cast<\s*" + NARROW_TYPES + r"\s*>\s*\(\s*reinterpret_cast<"),
     "a pointer narrowed to 32 bits or fewer"),
    (re.compile(r"\(\s*" + NARROW_TYPES + r"\s*\)\s*\(?\s*reinterpret_cast<"),
     "a pointer narrowed to 32 bits or fewer"),
    (re.compile(r"static_cast<\s*" + NARROW_TYPES + r"\s*>\s*\(\s*__builtin_(?:return|frame)_address"),
     "a code or stack address narrowed to 32 bits"),
    (re.compile(r"reinterpret_cast<\s*" + HANDLE_TYPES + r"\s*>\s*\(\s*static_cast<\s*" + WIDE_UNSIGNED + r"\s*>\s*\("),
     "an integer widened into a handle or pointer without its sign: say why it is wide already"),
]

SOURCE_SUFFIXES = {".cpp", ".h", ".cc", ".hpp"}
SKIPPED_DIRS = {"build", ".git"}


def allowed_reason(relative):
    for prefix, reason in ALLOWED.items():
        if relative == prefix or (prefix.endswith("/") and relative.startswith(prefix)):
            return reason
    return None


def comment_above(lines, index):
    """The comment lines just above lines[index], as one text."""
    block = []
    while index > 0 and lines[index - 1].strip().startswith("//"):
        index -= 1
        block.append(lines[index])
    return "\n".join(block)


def check_file(path, relative):
    findings = []
    lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
    for number, line in enumerate(lines, start=1):
        code = line.split("//", 1)[0]
        for pattern, message in RULES:
            if not pattern.search(code):
                continue
            if "width:" in line or "width:" in comment_above(lines, number - 1):
                continue
            findings.append(f"{relative}:{number}: {message}")
    return findings


def source_files(root):
    for path in sorted(root.rglob("*")):
        if any(part in SKIPPED_DIRS or part.startswith("build-") for part in path.relative_to(root).parts):
            continue
        if path.suffix in SOURCE_SUFFIXES and path.is_file():
            yield path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("root", nargs="?", default=pathlib.Path(__file__).resolve().parent.parent, type=pathlib.Path)
    arguments = parser.parse_args()
    root = arguments.root.resolve()
    findings = []
    for path in source_files(root):
        relative = path.relative_to(root).as_posix()
        if allowed_reason(relative) is None:
            findings.extend(check_file(path, relative))
    for finding in findings:
        print(finding)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
