"""Reads a plain-text exception report the way a reader of stored logs does
and checks its layout: the numbered general sections with aligned ": ",
dash lines as wide as their section, tables whose rows are all equally
wide, thread groups in their order, and the processor section with its
register rows and dump lines. Written apart from the program that writes
reports, so that both do not share a mistake.

A 64-bit process's report has the same layout with 16-digit addresses: the
call stack's and the modules' first columns, the stack and the dump; its
registers are RAX..R15, RIP and EFLAGS in nine rows of two columns, and its
stack part shows 8-byte words.

parse(text, address_digits) answers (report, problems); report holds what
was read. address_digits is 8 for a 32-bit process's report, 16 for a
64-bit one's."""
import re
from dataclasses import dataclass, field

CRLF = "\r\n"
HEADER = "DeveruVuz 5.0.4"
FIELD = re.compile(r"^  (\d+)\.(\d+) ")
THREAD = re.compile(r"^ (Exception|Running|Calling) Thread: ID=(\d+); Priority=(-?\d+|\?\?); Class=([^;]*?)"
                    r"(; \[Main\])?$")
# The register rows of each layout, as (left, right) pairs.
REGISTER_ROWS = {
    8: [("EAX", "EDI"), ("EBX", "ESI"), ("ECX", "ESP"), ("EDX", "EIP")],
    16: [("RAX", "R8"), ("RBX", "R9"), ("RCX", "R10"), ("RDX", "R11"), ("RSI", "R12"), ("RDI", "R13"),
         ("RBP", "R14"), ("RSP", "R15"), ("RIP", "EFLAGS")],
}
FLAGS_DIGITS = 8  # EFLAGS keeps its 32 bits in either layout
CALL_STACK_HEADERS = ["Address", "Module", "Unit", "Class", "Procedure/Method", "Line"]
MODULE_HEADERS = ["Handle", "Name", "Description", "Version", "Size", "Modified", "Path"]


@dataclass
class ThreadGroup:
    kind: str
    thread_id: int
    priority: str
    class_name: str
    main: bool
    rows: list = field(default_factory=list)  # cells of each entry


@dataclass
class Report:
    address_digits: int = 8
    sections: dict = field(default_factory=dict)  # number -> title
    fields: dict = field(default_factory=dict)    # "2.3" -> (label, value with lines joined by CRLF)
    groups: list = field(default_factory=list)
    modules: list = field(default_factory=list)   # cells of each module row
    registers: dict = field(default_factory=dict)
    dump: list = field(default_factory=list)      # (stack address, value, address, bytes, characters)


class Lines:
    def __init__(self, text):
        self.lines = text.split(CRLF)
        self.at = 0

    def peek(self):
        return self.lines[self.at] if self.at < len(self.lines) else None

    def take(self):
        line = self.peek()
        self.at += 1
        return line


def cells_of(row):
    return row[1:-1].split("|")


def general_section(lines, report, problems, previous_number):
    title = lines.take()
    block = [title]
    while lines.peek():
        block.append(lines.take())
    if not title.endswith(":") or len(block) < 3:
        problems.append(f"section {title!r} has no title, dash line and field")
        return previous_number
    dash, body = block[1], block[2:]
    widest = max(len(line) for line in [title] + body)
    if dash != "-" * widest:
        problems.append(f"section {title!r}: dash line of {len(dash)}, widest line {widest}")
    separators = {line.index(": ") for line in body if FIELD.match(line)}
    if len(separators) != 1:
        problems.append(f"section {title!r}: ': ' at columns {sorted(separators)}")
        return previous_number
    column = separators.pop()
    number, last_field, key = None, 0, None
    for line in body:
        match = FIELD.match(line)
        if match:
            section, index = int(match.group(1)), int(match.group(2))
            if number is None:
                number = section
            if section != number or index <= last_field:
                problems.append(f"section {title!r}: key {section}.{index} out of order")
            last_field = index
            key = f"{section}.{index}"
            label = line[len(match.group(0)):column].rstrip(" ")
            report.fields[key] = (label, line[column + 2:])
        elif key is not None and line.startswith(" " * (column + 2)) and line[column + 2:column + 3] not in ("", " "):
            text = line[column + 2:]
            if ": " in text or text.strip() == "":
                problems.append(f"continuation line {line!r} is not in the stored form")
            label, value = report.fields[key]
            report.fields[key] = (label, value + CRLF + text)
        else:
            problems.append(f"section {title!r}: line {line!r} is neither a field nor under a value")
    if number is not None:
        if number <= previous_number:
            problems.append(f"section {number} after section {previous_number}")
        report.sections[number] = title[:-1]
        return number
    return previous_number


def table(lines, problems, title, headers):
    """The rows between the header and the closing dash line, checked for
    width; None when the table is not there."""
    if lines.take() != title + ":":
        problems.append(f"no {title!r} where the table starts")
        return None
    dash = lines.take()
    width = len(dash)
    if set(dash) != {"-"}:
        problems.append(f"{title}: {dash!r} is not a dash line")
        return None
    if lines.peek() == "":  # the empty form of a switched-off table
        lines.take()
        if width != len(title) + 1:
            problems.append(f"{title}: empty form with {width} dashes")
        return []
    header = lines.take()
    if len(header) != width or [c.rstrip() for c in cells_of(header)] != headers:
        problems.append(f"{title}: header row {header!r}")
        return None
    widths = [len(c) for c in cells_of(header)]
    if sum(widths) + len(widths) + 1 != width:
        problems.append(f"{title}: columns do not add up to the dash line")
    if lines.take() != dash:
        problems.append(f"{title}: no dash line under the header")
    rows = []
    while True:
        row = lines.take()
        if row is None:
            problems.append(f"{title}: no closing dash line")
            return None
        if row == dash:
            break
        if len(row) != width or row[0] != "|" or row[-1] != "|":
            problems.append(f"{title}: row {row!r} is not {width} wide between borders")
        rows.append(row)
    if lines.take() != "":
        problems.append(f"{title}: no blank line after the table")
    return rows, widths


def call_stack(lines, report, problems):
    found = table(lines, problems, "Call Stack Information", CALL_STACK_HEADERS)
    if not found:
        return
    rows, widths = found
    digits = report.address_digits
    if widths[0] != max(len(CALL_STACK_HEADERS[0]), digits):
        problems.append(f"call stack: address column {widths[0]} wide for {digits}-digit addresses")
    group_dash = "|" + "-" * (sum(widths) + len(widths) - 1) + "|"
    state = "start"  # start, header, dash, rows, closed, blank
    for row in rows:
        inner = row[1:-1]
        thread = THREAD.match(inner.rstrip(" "))
        if row == group_dash:
            if state == "header":
                state = "rows"
            elif state == "rows":
                state = "closed"
            else:
                problems.append(f"call stack: group dash row out of place ({state})")
        elif thread:
            kind = thread.group(1)
            if state not in ("start", "closed", "blank"):
                problems.append(f"call stack: thread header {inner.strip()!r} out of place ({state})")
            if (state == "start") != (kind == "Exception"):
                problems.append(f"call stack: {kind} Thread header in place {len(report.groups)}")
            if state != "start" and (state == "blank") != (kind == "Running"):
                problems.append(f"call stack: {kind} Thread header {'after' if state == 'blank' else 'without'} "
                                "an empty row")
            report.groups.append(ThreadGroup(kind, int(thread.group(2)), thread.group(3), thread.group(4),
                                             thread.group(5) is not None))
            state = "header"
        elif inner.strip() == "":
            if state != "closed":
                problems.append("call stack: empty row out of place")
            state = "blank"
        else:
            cells = cells_of(row)
            if state != "rows" or len(cells) != 6 or [len(c) for c in cells] != widths:
                problems.append(f"call stack: entry row {row!r} out of place or not in the columns")
                continue
            if not re.fullmatch(rf"[0-9A-F]{{{digits}}} *", cells[0]) \
                    or not re.fullmatch(r"(\d+(\[\d+\])?)? *", cells[5]):
                problems.append(f"call stack: address or line of {row!r}")
            report.groups[-1].rows.append([c.rstrip(" ") for c in cells])
    if rows and state != "rows":
        problems.append("call stack: the last group has no entries")


def modules(lines, report, problems):
    found = table(lines, problems, "Modules Information", MODULE_HEADERS)
    if not found:
        return
    rows, widths = found
    # Handles are padded with zeros to the column, at least an address wide.
    handle_digits = max(len(MODULE_HEADERS[0]), report.address_digits)
    for row in rows:
        cells = cells_of(row)
        if [len(c) for c in cells] != widths or not re.fullmatch(rf"[0-9A-F]{{{handle_digits}}}", cells[0]) \
                or not re.fullmatch(r"\d+ *", cells[4]) \
                or not re.fullmatch(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)? *", cells[5]):
            problems.append(f"modules: row {row!r}")
        report.modules.append([c.rstrip(" ") for c in cells])


def register_line(left, right, digits, right_label_width):
    """The pattern of one register row: a value is its hex digits or "????"
    padded to them; the right column's labels are padded to the widest."""
    def value(name):
        width = FLAGS_DIGITS if name == "EFLAGS" else digits
        return rf"([0-9A-F]{{{width}}}|\?{{4}} {{{width - 4}}})"
    right_label = re.escape((right + ": ").ljust(right_label_width))
    return re.compile(rf"^{left}: {value(left)}   {right_label}{value(right)}$")


def cpu(lines, report, problems):
    if lines.take() != "Registers:":
        problems.append("no processor section")
        return
    dash = lines.take()
    if dash == "-" * 10 and lines.take() == "" and lines.take() == "":
        return  # switched off
    digits = report.address_digits
    rows = REGISTER_ROWS[digits]
    right_label_width = max(len(right) for _, right in rows) + 2
    if dash != "-" * (5 + digits + 3 + right_label_width + digits):
        problems.append(f"registers: dash line {dash!r}")
    for left, right in rows:
        line = lines.take() or ""
        match = register_line(left, right, digits, right_label_width).match(line)
        if not match:
            problems.append(f"registers: line {line!r}, expected {left} and {right}")
            continue
        report.registers[left] = match.group(1)
        report.registers[right] = match.group(2)
    # "ADDRESS: WORD" under the stack's title, three spaces, the dump's lines.
    stack_column = 2 * digits + 2
    dump_column = digits + 2 + 3 * 16 + 1 + 16
    if lines.take() != "" or lines.take() != "Stack:".ljust(stack_column + 3) + "Memory Dump:" \
            or lines.take() != "-" * stack_column + "   " + "-" * dump_column:
        problems.append("stack and memory dump titles")
    hex_digits = rf"[0-9A-F]{{{digits}}}"
    dump_line = re.compile(rf"^({hex_digits}): ({hex_digits})   ({hex_digits}): ((?:[0-9A-F]{{2}} ){{16}}) (.{{16}})$")
    while lines.peek():
        line = lines.take()
        match = dump_line.match(line)
        if len(line) != stack_column + 3 + dump_column or not match:
            problems.append(f"dump line {line!r}")
            continue
        data = bytes.fromhex(match.group(4))
        shown = "".join(chr(b) if 32 <= b <= 126 else "." for b in data)
        if shown != match.group(5):
            problems.append(f"dump line {line!r}: characters do not show the bytes")
        report.dump.append((int(match.group(1), 16), int(match.group(2), 16), int(match.group(3), 16), data))
    if report.dump:
        if len(report.dump) != 16:
            problems.append(f"{len(report.dump)} dump lines")
        word = digits // 2
        for i, (stack, _, address, _) in enumerate(report.dump):
            if stack != report.dump[0][0] + word * i or address != report.dump[0][2] + 16 * i:
                problems.append(f"dump line {i}: addresses do not follow on")
    if lines.take() != "" or lines.peek() is not None:
        problems.append("text after the processor section, or no final line end")


def parse(text, address_digits=8):
    report, problems = Report(address_digits), []
    lines = Lines(text)
    if lines.take() != HEADER or lines.take() != "":
        problems.append("the report does not start with its format line and a blank line")
    number = 0
    while lines.peek() not in (None, "Call Stack Information:"):
        number = general_section(lines, report, problems, number)
        if lines.take() != "":
            problems.append("no blank line after a general section")
    call_stack(lines, report, problems)
    modules(lines, report, problems)
    cpu(lines, report, problems)
    return report, problems
