#!/usr/bin/env python3
"""The demo's local mail server: an SMTP server on 127.0.0.1 that stores
every message it accepts as N.eml in a folder, prints the port it listens
on, and runs until it is stopped. `--show FOLDER` prints what the stored
messages carry: subject, recipients and attachments (an archive's content
listed by GNU tar)."""
import argparse
import email
import email.policy
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading


def serve(folder, port):
    from aiosmtpd.controller import Controller

    class Store:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Store.count += 1
            with open(os.path.join(folder, f"{Store.count}.eml"), "wb") as f:
                f.write(envelope.original_content)
            return "250 Message accepted"

    os.makedirs(folder, exist_ok=True)
    if port == 0:
        # The controller checks its server by connecting to the port, so it
        # needs a real one.
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
    controller = Controller(Store(), hostname="127.0.0.1", port=port)
    controller.start()
    print(controller.port, flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    controller.stop()


def show(folder):
    names = sorted((n for n in os.listdir(folder) if n.endswith(".eml")), key=lambda n: int(n.split(".")[0])) \
        if os.path.isdir(folder) else []
    if not names:
        print("no message arrived")
        return 1
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        print(f"message {name}: subject \"{message['Subject']}\", to {message['To']}")
        for part in message.iter_attachments():
            data = part.get_payload(decode=True)
            print(f"  attachment {part.get_filename()} ({len(data)} bytes)")
            if part.get_filename().endswith((".tgz", ".tar.gz")):
                with tempfile.NamedTemporaryFile(suffix=".tgz") as archive:
                    archive.write(data)
                    archive.flush()
                    listing = subprocess.run(["tar", "-tvzf", archive.name], capture_output=True, text=True)
                    for line in listing.stdout.splitlines():
                        print(f"    {line}")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--show", action="store_true")
    args = parser.parse_args()
    if args.show:
        return show(args.folder)
    serve(args.folder, args.port)
    return 0


if __name__ == "__main__":
    sys.exit(main())
