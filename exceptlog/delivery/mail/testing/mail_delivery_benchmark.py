#!/usr/bin/env python3
"""Delivery of one report with a 200 KB attachment to a local SMTP server:
the client under Wine (its delivery timed inside the probe, so Wine's
start-up is not counted) against curl sending the same message text, once in
clear and once over STARTTLS (curl with --ssl-reqd, checking the same
certificate, which the run trusts in the prefix for the client). In clear,
the same dialogue on Winsock alone under Wine shows what Wine's sockets cost
by themselves: each wait for a reply is a round through Wine's server.

  mail_delivery_benchmark.py --run tools/wine/run PREFIX --bin BIN [--runs N] [--rounds N]"""
import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_delivery_test as harness  # noqa: E402
import mail_tls_test as tls  # noqa: E402


def compare(args, server, attachment, curl_options, probe_options=(), bare=None):
    """The client's and curl's delivery times to `server`, in ms; with a
    list as `bare`, Winsock alone's too."""
    ours, theirs = [], []
    # Rounds alternate between the two so that a busy moment of the machine
    # falls on both; the first delivery of each round warms up.
    for _ in range(args.rounds):
        fields, _ = harness.probe(*harness.smtp_args(
            server.port, "dev@receiver.test", extra=["--attach", harness.wine_path(attachment),
                                                     "--repeat", str(args.runs + 1), *probe_options]))
        if fields.get("result") != ["1"]:
            raise RuntimeError(fields["error_text"])
        ours += [float(value) for value in fields["elapsed_ms"][1:]]
        upload = os.path.join(harness.WORK, "message.eml")
        with open(upload, "wb") as file:
            file.write(server.recorder.messages[-1].original_content)
        for run in range(args.runs + 1):
            done = subprocess.run(["curl", "-s", "-w", "%{time_total}", *curl_options,
                                   f"smtp://127.0.0.1:{server.port}",
                                   "--mail-from", "crash@sender.test", "--mail-rcpt", "dev@receiver.test",
                                   "--upload-file", upload], capture_output=True, text=True, check=True)
            if run > 0:
                theirs.append(float(done.stdout.strip()) * 1000)
        if bare is not None:
            fields, _ = harness.probe("smtp-bare", "--port", str(server.port), "--from", "crash@sender.test",
                                      "--to", "dev@receiver.test", "--file", harness.wine_path(upload),
                                      "--repeat", str(args.runs + 1))
            if fields.get("result") != ["1"]:
                raise RuntimeError("the Winsock-alone delivery failed")
            bare += [float(value) for value in fields["elapsed_ms"][1:]]
    return ours, theirs


def report(label, goal, ours, theirs, bare=None):
    ours_median, theirs_median = statistics.median(ours), statistics.median(theirs)
    print(f"{label}")
    print(f"  client: median {ours_median:.1f} ms over {len(ours)} deliveries (min {min(ours):.1f})")
    print(f"  curl:   median {theirs_median:.1f} ms over {len(theirs)} deliveries (min {min(theirs):.1f})")
    if bare:
        print(f"  Winsock alone under Wine: median {statistics.median(bare):.1f} ms over {len(bare)} deliveries "
              f"(min {min(bare):.1f})")
    print(f"  ratio client/curl: {ours_median / theirs_median:.2f} (goal at most {goal})")
    if bare:
        print(f"  ratio Winsock alone/curl: {statistics.median(bare) / theirs_median:.2f}; "
              f"client/Winsock alone: {ours_median / statistics.median(bare):.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("prefix")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=4)
    harness.ARGS = args = parser.parse_args()
    attachment = harness.write("report.bin", os.urandom(200 * 1024))
    with harness.RecordingServer() as server:
        bare = []
        report("in clear", 1.2, *compare(args, server, attachment, [], bare=bare), bare)
    tls.setUpModule()
    curl_tls = ["--ssl-reqd", "--cacert", tls.CERTIFICATES["good"][0]]
    try:
        with tls.TlsServer() as server:
            report("over STARTTLS (curl --ssl-reqd)", 1.5, *compare(args, server, attachment, curl_tls))
        # The client loads secur32.dll for each session; where nothing else
        # holds it, each load starts the system's TLS afresh. A host process
        # that has it loaded already spares that:
        with tls.TlsServer() as server:
            report("over STARTTLS, secur32.dll already loaded in the process", 1.5,
                   *compare(args, server, attachment, curl_tls, ["--preload", "secur32.dll"]))
    finally:
        tls.tearDownModule()


if __name__ == "__main__":
    main()
