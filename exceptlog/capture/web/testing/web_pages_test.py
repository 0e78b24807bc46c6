#!/usr/bin/env python3
"""Error pages of the three web hosts, for real under Wine.

CGI: a web server on 127.0.0.1 (Python's CGI handler) starts the sample CGI
program through a script; a failed request must be answered with the status
line as the program's first header line, then the error page. Extension DLL:
a stand-in server drives the sample DLL; the page goes through WriteClient
with status 200 and without a status line. Profile-based CGI: the sample is
given a profile and an output file, and the answer lands in the file."""
import argparse
import glob
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

ID_COMMENT = re.compile(r"<!-- DeveruVuz ID: [0-9A-F]{8} -->")
OK_BUTTON = '<input type=button value="Ok" OnClick="history.go(-1)"'
HEADING = "An error has occurred during program execution."


def run(command, env=None, timeout=120):
    done = subprocess.run(command, capture_output=True, timeout=timeout, env=env)
    return done.returncode, done.stdout.decode("latin-1")


def split_answer(answer, problems, what, with_status):
    """The page behind a header block; problems when the block is not the
    expected one or the length does not match."""
    head, sep, page = answer.partition("\r\n\r\n")
    lines = head.split("\r\n")
    expected = (["Status: 200 Error"] if with_status else []) + ["Content-Type: text/html"]
    if not sep or lines[:len(expected)] != expected or lines[-1] != "Content:" \
            or lines[-2] != f"Content-Length: {len(page)}":
        problems.append(f"{what}: header block {head!r} does not fit a page of {len(page)} bytes")
    return page


def check_page(page, problems, what, message, with_report):
    if not ID_COMMENT.search(page) or OK_BUTTON not in page or message not in page:
        problems.append(f"{what}: not the error page with {message!r}: {page!r}")
    if with_report and HEADING not in page:
        problems.append(f"{what}: the report's heading is missing: {page!r}")


def cgi_requests(args, work, problems):
    root = os.path.join(work, "site")
    os.makedirs(os.path.join(root, "cgi-bin"))
    script = os.path.join(root, "cgi-bin", "sample")
    with open(script, "w") as out:
        # Through a pipe: Wine's standard output is then a pipe, as a
        # server on Windows gives its CGI programs.
        out.write("#!/bin/sh\n" + " ".join(f"'{part}'" for part in args.run)
                  + f" '{os.path.join(args.bin, 'web_sample_cgi.exe')}' | cat\n")
    os.chmod(script, 0o755)

    # Run as root, the handler would start the program as "nobody", whom
    # Wine refuses the test's prefix: the program runs as the test's user.
    http.server.nobody_uid = os.getuid
    handler = lambda *a, **k: http.server.CGIHTTPRequestHandler(*a, directory=root, **k)  # noqa: E731
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        def get(query):
            with socket.create_connection(("127.0.0.1", server.server_address[1]), timeout=120) as connection:
                connection.sendall(f"GET /cgi-bin/sample?{query} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode())
                data = b""
                while chunk := connection.recv(65536):
                    data += chunk
            return data.decode("latin-1")

        def kept_pages():
            """The program's last page as kept in Wine's temporary folder."""
            pattern = os.path.join(args.run[1], "drive_c", "users", "*", "**", "LastHTMLPage.html")
            return glob.glob(pattern, recursive=True)

        for kept in kept_pages():
            os.remove(kept)
        answer = get("fine")
        if not answer.endswith("\r\nContent-Type: text/html\r\n\r\n<html>fine</html>"):
            problems.append(f"CGI fine: {answer!r}")
        # What the program last wrote to its visitor is kept (the C runtime
        # may write the header and the page apart); the subsystem's own
        # error page, written after it, is not.
        kept = kept_pages()
        if len(kept) != 1 or not open(kept[0], "rb").read().decode("latin-1").endswith("<html>fine</html>"):
            problems.append(f"CGI fine: the kept pages {kept!r} are not the program's page")

        answer = get("fail")
        server_head, _, rest = answer.partition("\r\n")
        # The server's own lines first (status, server, date), then the
        # program's answer, which begins with its status line.
        own = 0
        lines = rest.split("\r\n")
        while own < len(lines) and lines[own].split(":")[0] in ("Server", "Date"):
            own += 1
        program_answer = "\r\n".join(lines[own:])
        if not server_head.startswith("HTTP/1.0 200"):
            problems.append(f"CGI fail: server answered {server_head!r}")
        page = split_answer(program_answer, problems, "CGI fail", True)
        check_page(page, problems, "CGI fail", "The request &lt;fail&gt; failed &amp; &quot;stopped&quot;.", True)
        kept = kept_pages()
        if len(kept) != 1 or "DeveruVuz ID" in open(kept[0], "rb").read().decode("latin-1"):
            problems.append(f"CGI fail: the error page was kept as the program's page ({kept!r})")
    finally:
        server.shutdown()
        server.server_close()


def isapi_requests(args, problems):
    code, output = run(args.run + [os.path.join(args.bin, "isapi_standin.exe"),
                                   os.path.join(args.bin, "web_sample_isapi.dll"), "fine", "fail", "fine"])
    events = output.splitlines()
    wanted_fine = ["write: <html>fine</html>", "result: 1 status: 0"]
    if code != 0 or events[-1:] != ["unloaded"] or events[0:3] != ["request: fine"] + wanted_fine \
            or events[-4:-1] != ["request: fine"] + wanted_fine:
        problems.append(f"extension: exit {code}, events {events!r}")
        return
    failed = events[events.index("request: fail") + 1:events.index("request: fail") + 4]
    header = next((e for e in failed if e.startswith("header: ")), "")
    write = next((e for e in failed if e.startswith("write: ")), "")
    if failed[-1:] != ["result: 4 status: 200"] or len(failed) != 3:
        problems.append(f"extension fail: events {failed!r}")
    status, _, block = header[len("header: "):].partition(" | ")
    page = write[len("write: "):].replace("\\r", "\r").replace("\\n", "\n")
    if status != "200 Error":
        problems.append(f"extension fail: status text {status!r}")
    split_answer(block.replace("\\r", "\r").replace("\\n", "\n") + page, problems, "extension fail", False)
    check_page(page, problems, "extension fail", "The request &lt;fail&gt; failed.", True)


def profile_requests(args, work, problems):
    program = os.path.join(args.bin, "web_sample_wincgi.exe")
    output = os.path.join(work, "answer.out")
    other_output = os.path.join(work, "named.out")
    profile = os.path.join(work, "request.ini")
    with open(profile, "w") as out:
        out.write(f"[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=Z:{output.replace('/', chr(92))}\r\n")
    for path in (output, other_output):
        open(path, "w").close()

    def windows(path):
        return "Z:" + path.replace("/", "\\")

    # The output file the profile names, then one given on the command line.
    for command, answer_file in (([windows(profile)], output),
                                 ([windows(profile), "content.txt", windows(other_output)], other_output)):
        code, _ = run(args.run + [program] + command)
        with open(answer_file, "rb") as f:
            answer = f.read().decode("latin-1")
        page = split_answer(answer, problems, f"profile {command}", True)
        check_page(page, problems, f"profile {command}", "The profile&#039;s request failed.", False)
        if code != 0:
            problems.append(f"profile {command}: exit {code}")

    # No request method: an ordinary program, which writes nothing anywhere.
    with open(profile, "w") as out:
        out.write(f"[CGI]\r\nRequest Method=\r\n[System]\r\nOutput File={windows(output)}\r\n")
    open(output, "w").close()
    code, _ = run(args.run + [program, windows(profile)])
    if code != 0 or os.path.getsize(output) != 0:
        problems.append(f"no request method: exit {code}, output file of {os.path.getsize(output)} bytes")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True, help="command that runs a Windows program")
    parser.add_argument("--bin", required=True, help="folder of the web sample programs")
    args = parser.parse_args()
    problems = []
    work = tempfile.mkdtemp(prefix="web-pages-")
    try:
        cgi_requests(args, work, problems)
        isapi_requests(args, problems)
        profile_requests(args, work, problems)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print(problem)
    print("web error pages:", "ok" if not problems else f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
