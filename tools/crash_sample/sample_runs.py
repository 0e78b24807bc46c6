"""What the crash sample's test scripts share: running a Windows program
under Wine, picking its report lines, writing copies with other options, and
ending with a verdict."""
import os
import subprocess


def run(command, env=None, timeout=120):
    """Exit code and standard output (line ends as on Linux)."""
    done = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    return done.returncode, done.stdout.replace("\r\n", "\n")


def report_lines(output):
    return [line for line in output.splitlines() if line.startswith("report:")]


def options_copy(eldata, program, folder, name, text):
    """A copy of `program` in `folder` whose stored options are `text` (the
    options file format); raises with eldata's message when it fails."""
    conf = os.path.join(folder, name + ".conf")
    with open(conf, "w") as out:
        out.write(text)
    copy = os.path.join(folder, name)
    code, output = run([eldata, "options", program, conf, "-o", copy])
    if code != 0:
        raise RuntimeError(f"eldata options {program}: exit {code}: {output}")
    return copy


def verdict(what, problems):
    for problem in problems:
        print(problem)
    print(f"{what}:", "ok" if not problems else f"{len(problems)} problems")
    return 1 if problems else 0
