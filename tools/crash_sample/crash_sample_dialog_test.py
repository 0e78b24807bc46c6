#!/usr/bin/env python3
"""A real exception in the crash sample shown in the exception dialog, with
a user in front of it (crash_sample_dialog_driver, a second program in the
same Wine session):

- the compact dialog shows the exception's message; the details show every
  page (General as the report's text, Call Stack and Modules as lists with
  rows, CPU) and the dialog goes back to compact;
- the copy box the user ticked reaches the pipeline;
- the reproduce steps typed into the request land in the report as 8.1,
  in the report the pipeline finished with (laid out as the program's
  bitness has it) and in the log beside the program;
- pictures of each state are written and pass pngcheck."""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_layout  # noqa: E402
from sample_runs import ARCHES, add_arch_argument, options_copy, run, verdict  # noqa: E402

# The dialog with its details and copy buttons in its own style; the
# reproduce-steps request with the modules and processor sections.
DIALOG_OPTIONS = "DialogFlags = 0x99\nStackFlags = 0x1F\nLogFlags = 0x32\n"
STEPS = "Start the sample\r\nChoose throw"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


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
    work = tempfile.mkdtemp(prefix="crash-dialog-")
    artefacts = os.environ.get("VELLUM_ARTIFACTS", os.path.join(work, "artifacts"))
    os.makedirs(artefacts, exist_ok=True)
    try:
        program = options_copy(args.eldata, os.path.join(args.bin, "crash_sample.exe"), work, "crash_sample.exe",
                               DIALOG_OPTIONS)
        reports = os.path.join(work, "reports")
        os.makedirs(reports)
        env = dict(os.environ, CRASH_SAMPLE_REPORT_DIR=windows_path(reports))
        sample = subprocess.Popen(args.run + [program, "throw"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  text=True, env=env)
        code, seen = run(args.run + [os.path.join(args.bin, "crash_sample_dialog_driver.exe"),
                                     windows_path(artefacts), STEPS], timeout=180)
        try:
            sample_output, _ = sample.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            sample.kill()
            sample_output, _ = sample.communicate()
            problems.append("the crash sample did not end after the dialogs")
        lines = dict(line.split(": ", 1) for line in seen.splitlines() if ": " in line)
        if code != 0 or lines.get("dialog") != "shown" or lines.get("request") != "shown":
            problems.append(f"driver: exit {code}, saw {seen!r}")
        if "ESampleError" not in sample_output or "report:" not in sample_output:
            problems.append(f"crash sample printed {sample_output!r}")
        if not lines.get("message", "").strip():
            problems.append("the compact dialog showed no message")
        if lines.get("pages") != "4":
            problems.append(f"pages: {lines.get('pages')!r}, expected General, Call Stack, Modules and CPU")
        for page, label in ((0, "General Information"), (1, "Call Stack Information"), (2, "Modules Information"),
                            (3, "CPU Information")):
            shown = lines.get(f"page {page}", "")
            if not shown.startswith(label):
                problems.append(f"page {page}: {shown!r}")
            if page in (1, 2) and (len(shown.split()) < 2 or int(shown.split()[-1]) < 2):
                problems.append(f"page {page} lists too few rows: {shown!r}")
        if lines.get("general text") != "report":
            problems.append("the General page does not show the report")
        if lines.get("back to compact") != "yes":
            problems.append("the details did not close again")

        choices = glob.glob(os.path.join(reports, "*-choices-*.txt"))
        texts = glob.glob(os.path.join(reports, "*-report-*.txt"))
        if len(choices) != 1 or len(texts) != 1:
            problems.append(f"files the pipeline wrote: {os.listdir(reports)}")
        else:
            with open(choices[0]) as f:
                chosen = f.read().strip()
            if "copy=1" not in chosen or "terminate=0" not in chosen:
                problems.append(f"the pipeline got the choices {chosen!r}")
            with open(texts[0], "rb") as f:
                report = f.read().decode("latin-1")
            if "  8.1 : Start the sample\r\n        Choose throw\r\n" not in report:
                problems.append("the reproduce steps are not section 8 of the report")
            problems += [f"report layout: {problem}" for problem in report_layout.parse(report, arch.digits)[1]]
        logs = glob.glob(os.path.join(work, "*.elf"))
        if len(logs) != 1:
            problems.append(f"log files beside the program: {logs}")
        else:
            code, stored = run([args.exlog, "report", logs[0]])
            if code != 0 or "8.1 : Start the sample" not in stored:
                problems.append(f"exlog report: exit {code}; the steps are not in the log")

        pictures = [os.path.join(artefacts, name) for name in
                    ["sample_dialog_compact.png", "sample_request.png"] +
                    [f"sample_dialog_page{page}.png" for page in range(4)]]
        missing = [p for p in pictures if not os.path.exists(p)]
        if missing:
            problems.append(f"pictures missing: {missing}")
        else:
            check = subprocess.run(["pngcheck", "-q"] + pictures, capture_output=True, text=True)
            if check.returncode != 0:
                problems.append(f"pngcheck: {check.stdout.strip()} {check.stderr.strip()}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict("a real exception in the dialog", problems)


if __name__ == "__main__":
    sys.exit(main())
