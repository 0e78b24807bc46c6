#!/usr/bin/env python3
"""Checks the source tree's layout rules, from the #include lines alone:

- layers: a file includes only headers of its own layer or of layers below it;
- nothing outside tools/ includes anything under tools/;
- Win32 code is in files whose name ends in "_win" (foo_win.cpp, foo_win.h,
  foo_win_test.cpp); every other file is portable: it includes no Windows
  header, directly or through one of ours;
- test programs are named *_test.cpp (a Win32 one *_win_test.cpp);
- report and delivery product code reaches the exception manager only through
  the pipeline steps' interface (the steps, their context, the warning texts
  and the notification parameters), never by calling up into the manager.

Prints one line per breach and exits 1 when there is any."""
import argparse
import pathlib
import re
import sys

# From the bottom up. A file may include headers of its own layer and of the
# layers listed before it. Within a layer, folders may use each other.
LAYERS = [
    ("runtime", ["runtime/"]),
    ("common primitives", ["exceptlog/common/"]),
    ("exception capture", ["exceptlog/capture/"]),
    # Build-time: reads a linked module's DWARF and writes its stored block
    # with capture's writers; used by tools and benchmarks.
    ("debug information", ["exceptlog/debuginfo/"]),
    # Two layers, not one: delivery sends what report wrote (and its assembly
    # hands report's steps to the pipeline), while a report is complete
    # without knowing how, or whether, it will be sent.
    ("report", ["exceptlog/report/"]),
    ("delivery", ["exceptlog/delivery/"]),
    ("shell extension framework", ["shellext/"]),
    ("band", ["band/"]),
    ("tools", ["tools/"]),
]

# Headers that only exist for Windows targets.
WINDOWS_HEADERS = {
    "windows.h", "winsock2.h", "ws2tcpip.h", "ole2.h", "objbase.h", "oleauto.h", "shlobj.h",
    "shellapi.h", "shlwapi.h", "commctrl.h", "uxtheme.h", "psapi.h", "tlhelp32.h", "dbghelp.h",
    "wininet.h", "mapi.h", "winnt.h", "winuser.h", "wingdi.h", "winbase.h", "winreg.h",
    "process.h", "intrin.h", "imagehlp.h", "iphlpapi.h", "windns.h", "excpt.h", "shobjidl.h",
    "winsock.h", "sspi.h", "security.h", "schannel.h", "wincrypt.h",
}

# What report and delivery product files may include of capture/manager/.
MANAGER_FOLDER = "exceptlog/capture/manager/"
STEPS_INTERFACE = {
    MANAGER_FOLDER + name
    for name in ("pipeline_steps.h", "pipeline_context.h", "delivery_warning.h", "notify_params_win.h")
}
STEP_LAYERS = ("exceptlog/report/", "exceptlog/delivery/")


def is_test_file(path):
    name = pathlib.PurePosixPath(path).name
    return "_test" in name or "/testing/" in path or name.endswith("_benchmark.cpp") or name.endswith(
        "_benchmark_win.cpp")


SOURCE_SUFFIXES = {".cpp", ".h", ".hpp", ".cc", ".c"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def layer_of(path):
    for index, (_, prefixes) in enumerate(LAYERS):
        if any(path.startswith(prefix) for prefix in prefixes):
            return index
    return None


def is_win32_name(path):
    stem = pathlib.PurePosixPath(path).stem
    return stem.endswith("_win") or stem.endswith("_win_test")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    root = pathlib.Path(parser.parse_args().root)

    files = {}
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root).as_posix()
        if relative.startswith(("build", ".git")) or path.suffix not in SOURCE_SUFFIXES:
            continue
        files[relative] = path.read_text(encoding="utf-8", errors="replace")

    breaches = []
    for path, text in files.items():
        own_layer = layer_of(path)
        win32 = is_win32_name(path)
        name = pathlib.PurePosixPath(path).name
        if "test" in name and path.endswith(".cpp") and not (
                name.endswith("_test.cpp") or "_test_support" in name or name.endswith("_fuzz.cpp")):
            breaches.append(f"{path}: a test program's name ends in _test.cpp (or _win_test.cpp)")
        for match in INCLUDE.finditer(text):
            bracket, target = match.groups()
            if bracket == "<":
                if not win32 and target.lower() in WINDOWS_HEADERS:
                    breaches.append(f"{path}: portable file includes <{target}>; Win32 files end in _win")
                continue
            if target.startswith("tools/") and not path.startswith("tools/"):
                breaches.append(f"{path}: includes {target}; nothing outside tools/ may")
            if not win32 and is_win32_name(target):
                breaches.append(f"{path}: portable file includes the Win32 header {target}")
            if (path.startswith(STEP_LAYERS) and not is_test_file(path) and target.startswith(MANAGER_FOLDER)
                    and target not in STEPS_INTERFACE):
                breaches.append(f"{path}: includes {target}; report and delivery reach the manager only "
                                f"through the steps' interface")
            target_layer = layer_of(target)
            if own_layer is not None and target_layer is not None and target_layer > own_layer:
                breaches.append(f"{path}: {LAYERS[own_layer][0]} includes {target} "
                                f"of the higher layer {LAYERS[target_layer][0]}")
    for line in breaches:
        print(line)
    print(f"{len(files)} files checked, {len(breaches)} breaches")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
