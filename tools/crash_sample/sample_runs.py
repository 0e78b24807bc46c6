"""What the crash sample's test scripts share: the programs' bitness with
its address width and module bases, running a Windows program under Wine,
picking its report lines, writing copies with other options, and ending with
a verdict."""
import os
import re
import subprocess
from dataclasses import dataclass


@dataclass(frozen=True)
class Arch:
    """What a script expects of programs of one bitness: a 64-bit program
    and its library lie above 4 GB (tools/crash_sample/CMakeLists.txt), and
    its reports write every address with 16 digits."""
    name: str
    digits: int
    program_base: int
    library_base: int
    tool_prefix: str

    def hex(self, value):
        return f"{value:0{self.digits}X}"


ARCHES = {
    "x86": Arch("x86", 8, 0x00400000, 0x6A000000, "i686-w64-mingw32-"),
    "x64": Arch("x64", 16, 0x140000000, 0x16A000000, "x86_64-w64-mingw32-"),
}


# Further than any module of the sample reaches from its base.
MODULE_REACH = 0x01000000


def in_module(address, base):
    return base <= address < base + MODULE_REACH


def add_arch_argument(parser):
    parser.add_argument("--arch", choices=sorted(ARCHES), default="x86", help="bitness of the programs in --bin")


def report_line_pattern(arch):
    """A "report:" line: class | message | raise address | unit:procedure:line."""
    return re.compile(rf"^report: (\S+) \| (.*) \| ([0-9A-F]{{{arch.digits}}}) \| (.*)$")


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
