#!/usr/bin/env python3
"""Delivery of one report with a 200 KB attachment to a local SMTP server:
the client under Wine against curl sending the same message text, once in
clear and once over STARTTLS (curl with --ssl-reqd, checking the same
certificate, which the run trusts in the prefix for the client).

Each delivery is timed by the server, from the connection's start to the
server's close after its reply to QUIT: the same span for every client, and
one that leaves out process start-up on both sides. (curl's own
time_total ends before it sends QUIT, so it cannot be set beside a time
that includes it.) The client's time inside its process, from the call to
its return, is shown too. In clear, the same dialogue on Winsock alone
under Wine shows what Wine's sockets cost by themselves: each wait for a
reply is a round through Wine's server.

  mail_delivery_benchmark.py --run tools/wine/run PREFIX --bin BIN [--runs N] [--rounds N]"""
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


def sessions_of(run, count):
    """Runs `run` and answers the spans of the last `count` sessions it made
    (before them: a warm-up, and the server's own check that it listens)."""
    with _sessions_lock:
        SESSIONS.clear()
    run()
    # The server records a session as it closes, just after the client's
    # last read: a moment for the last one to land.
    time.sleep(0.2)
    with _sessions_lock:
        return SESSIONS[-count:]


def compare(args, server, attachment, curl_options, probe_options=(), bare=False):
    """Session spans at `server` in ms: the client's, curl's and (with
    `bare`) Winsock alone's, and the client's own times in its process."""
    figures = {"client": [], "curl": [], "bare": [], "in process": []}
    # Rounds alternate between them so that a busy moment of the machine
    # falls on all; the first delivery of each round warms up.
    for _ in range(args.rounds):
        def client():
            fields, _ = harness.probe(*harness.smtp_args(
                server.port, "dev@receiver.test", extra=["--attach", harness.wine_path(attachment),
                                                         "--repeat", str(args.runs + 1), *probe_options]))
            if fields.get("result") != ["1"]:
                raise RuntimeError(fields["error_text"])
            figures["in process"].extend(float(value) for value in fields["elapsed_ms"][1:])
        figures["client"] += sessions_of(client, args.runs)
        upload = os.path.join(harness.WORK, "message.eml")
        with open(upload, "wb") as file:
            file.write(server.recorder.messages[-1].original_content)

        def curl():
            for _ in range(args.runs + 1):
                subprocess.run(["curl", "-s", *curl_options, f"smtp://127.0.0.1:{server.port}",
                                "--mail-from", "crash@sender.test", "--mail-rcpt", "dev@receiver.test",
                                "--upload-file", upload], capture_output=True, check=True)
        figures["curl"] += sessions_of(curl, args.runs)
        if bare:
            def winsock_alone():
                fields, _ = harness.probe("smtp-bare", "--port", str(server.port), "--from", "crash@sender.test",
                                          "--to", "dev@receiver.test", "--file", harness.wine_path(upload),
                                          "--repeat", str(args.runs + 1))
                if fields.get("result") != ["1"]:
                    raise RuntimeError("the Winsock-alone delivery failed")
            figures["bare"] += sessions_of(winsock_alone, args.runs)
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
    parser.add_argument("--runs", type=int, default=8)
    parser.add_argument("--rounds", type=int, default=6)
    harness.ARGS = args = parser.parse_args()
    time_sessions()
    attachment = harness.write("report.bin", os.urandom(200 * 1024))
    with harness.RecordingServer() as server:
        report("in clear", 1.2, compare(args, server, attachment, [], bare=True))
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
