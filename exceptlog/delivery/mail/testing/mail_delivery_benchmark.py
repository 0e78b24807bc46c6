#!/usr/bin/env python3
"""Delivery of one report with a 200 KB attachment to a local SMTP server:
the client under Wine against curl sending the same message text, in clear
and over STARTTLS (curl with --ssl-reqd, checking the same certificate,
which the run trusts in the prefix for the client). The server offers
PIPELINING, as mail servers do (curl does not use it); in clear the same
delivery goes to a server that does not offer it too.

Each delivery is timed by the server, from the connection's start to the
server's close after its reply to QUIT: the same span for every client, and
one that leaves out process start-up on both sides. (curl's own
time_total ends before it sends QUIT, so it cannot be set beside a time
that includes it.) The clients take turns one delivery at a time, so that a
slow moment of the machine (the server is Python, and the clients, Wine's
server and it share the cores) falls on all of them alike. The client's
time inside its process, from the call to its return, is shown too. In
clear, the same dialogue on Winsock alone under Wine shows what Wine's
sockets cost by themselves: each wait for a reply is a round through Wine's
server.

  mail_delivery_benchmark.py --run tools/wine/run PREFIX --bin BIN [--deliveries N]"""
import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

from aiosmtpd import smtp as aiosmtpd_smtp

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_delivery_test as harness  # noqa: E402
import mail_tls_test as tls  # noqa: E402

SESSIONS = []
_sessions_lock = threading.Lock()


def time_sessions():
    """Records each SMTP session's span at the server, in ms. STARTTLS makes
    a second connection_made on the same session, which keeps its start."""
    made, lost = aiosmtpd_smtp.SMTP.connection_made, aiosmtpd_smtp.SMTP.connection_lost

    def connection_made(self, transport):
        if not hasattr(self, "_benchmark_start"):
            self._benchmark_start = time.perf_counter()
        return made(self, transport)

    def connection_lost(self, error):
        start = self.__dict__.pop("_benchmark_start", None)
        if start is not None:
            with _sessions_lock:
                SESSIONS.append((time.perf_counter() - start) * 1000)
        return lost(self, error)

    aiosmtpd_smtp.SMTP.connection_made = connection_made
    aiosmtpd_smtp.SMTP.connection_lost = connection_lost


def next_session(deliver):
    """Runs `deliver` and answers the span of the session it made, in ms."""
    with _sessions_lock:
        count = len(SESSIONS)
    deliver()
    # The server records a session as it closes, about when the client
    # reads its last reply.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        with _sessions_lock:
            if len(SESSIONS) > count:
                return SESSIONS[count]
        time.sleep(0.0005)
    raise RuntimeError("the server recorded no session")


class PacedProbe:
    """A probe under Wine that delivers once for each line it is given."""

    def __init__(self, arguments, deliveries):
        command = [harness.ARGS.run, harness.ARGS.prefix, os.path.join(harness.ARGS.bin, "mail_probe.exe"),
                   *arguments, "--repeat", str(deliveries), "--paced"]
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.in_process = []

    def deliver(self):
        self.process.stdin.write(b"\n")
        self.process.stdin.flush()
        while True:
            line = self.process.stdout.readline().decode("latin-1").strip()
            if not line:
                raise RuntimeError("the probe ended early")
            if line.startswith("elapsed_ms="):
                self.in_process.append(float(line.partition("=")[2]))
                return

    def close(self):
        self.process.stdin.close()
        rest = self.process.stdout.read().decode("latin-1")
        self.process.wait()
        if "result=1" not in rest:
            raise RuntimeError("a delivery failed:\n" + rest)


def compare(args, server, attachment, curl_options, probe_options=(), bare=None):
    """Session spans at `server` in ms: the client's, curl's and (when
    `bare` gives its options) Winsock alone's, and the client's own times
    in its process."""
    # The client's first delivery in its process warms up; its message is
    # what curl and Winsock alone send.
    client = PacedProbe(harness.smtp_args(server.port, "dev@receiver.test",
                                          extra=["--attach", harness.wine_path(attachment), *probe_options]),
                        args.deliveries + 1)
    client.deliver()
    upload = os.path.join(harness.WORK, "message.eml")
    with open(upload, "wb") as file:
        file.write(server.recorder.messages[-1].original_content)
    client.in_process.clear()
    rivals = {"client": client.deliver}

    def curl():
        subprocess.run(["curl", "-s", *curl_options, f"smtp://127.0.0.1:{server.port}",
                        "--mail-from", "crash@sender.test", "--mail-rcpt", "dev@receiver.test",
                        "--upload-file", upload], capture_output=True, check=True)
    rivals["curl"] = curl
    alone = None
    if bare is not None:
        alone = PacedProbe(["smtp-bare", "--port", str(server.port), "--from", "crash@sender.test",
                            "--to", "dev@receiver.test", "--file", harness.wine_path(upload), *bare],
                           args.deliveries + 1)
        alone.deliver()
        rivals["bare"] = alone.deliver
    curl()
    figures = {name: [] for name in rivals}
    names = list(rivals)
    for turn in range(args.deliveries):
        # Each takes the first place in turn.
        for name in names[turn % len(names):] + names[:turn % len(names)]:
            figures[name].append(next_session(rivals[name]))
    client.close()
    if alone:
        alone.close()
    figures["in process"] = client.in_process
    figures.setdefault("bare", [])
    return figures


def line(name, values):
    return f"  {name}: median {statistics.median(values):.1f} ms over {len(values)} deliveries (min {min(values):.1f})"


def report(label, goal, figures):
    client, curl, bare = (statistics.median(figures[name]) if figures[name] else None
                          for name in ("client", "curl", "bare"))
    print(label)
    print(line("client", figures["client"]))
    print(line("curl", figures["curl"]))
    if bare:
        print(line("Winsock alone under Wine", figures["bare"]))
    print(line("client, timed in its process", figures["in process"]))
    print(f"  ratio client/curl: {client / curl:.2f} (goal at most {goal})")
    if bare:
        print(f"  ratio Winsock alone/curl: {bare / curl:.2f}; client/Winsock alone: {client / bare:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("prefix")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--deliveries", type=int, default=48)
    harness.ARGS = args = parser.parse_args()
    time_sessions()
    attachment = harness.write("report.bin", os.urandom(200 * 1024))
    with harness.RecordingServer() as server:
        report("in clear", 1.2, compare(args, server, attachment, [], bare=["--pipelined"]))
    with harness.RecordingServer(pipelining=False) as server:
        report("in clear, to a server without PIPELINING", 1.2, compare(args, server, attachment, [], bare=[]))
    tls.setUpModule()
    curl_tls = ["--ssl-reqd", "--cacert", tls.CERTIFICATES["good"][0]]
    try:
        with tls.TlsServer() as server:
            report("over STARTTLS (curl --ssl-reqd)", 1.5, compare(args, server, attachment, curl_tls))
        # The client loads secur32.dll for each session; where nothing else
        # holds it, each load starts the system's TLS afresh. A host process
        # that has it loaded already spares that:
        with tls.TlsServer() as server:
            report("over STARTTLS, secur32.dll already loaded in the process", 1.5,
                   compare(args, server, attachment, curl_tls, ["--preload", "secur32.dll"]))
    finally:
        tls.tearDownModule()


if __name__ == "__main__":
    main()
