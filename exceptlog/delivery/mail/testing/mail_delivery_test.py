#!/usr/bin/env python3
"""The SMTP client and the MX lookup against real servers on loopback
addresses: an SMTP server that records what it accepts (with and without
AUTH), scripted servers that answer in awkward ways, and a DNS server. The
client runs under Wine in mail_probe.exe; what arrived is read back with
Python's e-mail parser."""
import argparse
import base64
import email
import email.policy
import os
import random
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult
from dnslib import MX, QTYPE, RR, DNSRecord

ARGS = None
WORK = tempfile.mkdtemp(prefix="mail_delivery_")


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def probe(*arguments, timeout=120, resolver=None):
    command = [ARGS.run, ARGS.prefix, os.path.join(ARGS.bin, "mail_probe.exe"), *arguments]
    if resolver:
        # Wine reads the DNS servers from /etc/resolv.conf: the probe gets a
        # private mount namespace in which that file names the test's server.
        conf = write("resolv.conf", f"nameserver {resolver}\n".encode())
        command = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /etc/resolv.conf && exec "$@"', conf, *command]
    started = time.monotonic()
    done = subprocess.run(command, capture_output=True, timeout=timeout)
    elapsed = time.monotonic() - started
    lines = done.stdout.decode("latin-1").replace("\r\n", "\n").split("\n")
    fields = {}
    for line in lines:
        key, _, value = line.partition("=")
        fields.setdefault(key, []).append(value)
    # The error message spans lines (the transcript): keep all of it.
    text = "\n".join(lines)
    fields["error_text"] = text[text.find("error="):] if "error=" in text else ""
    return fields, elapsed


def write(name, data):
    path = os.path.join(WORK, name)
    with open(path, "wb") as file:
        file.write(data)
    return path


def body_file(text):
    return wine_path(write("body.txt", text.encode("latin-1")))


def free_port(host="127.0.0.1"):
    with socket.socket() as s:
        s.bind((host, 0))
        return s.getsockname()[1]


class Recorder:
    """An aiosmtpd handler that keeps every accepted message and whether it
    came inside TLS, and offers PIPELINING (as mail servers do; aiosmtpd
    reads each command in turn from its stream and answers it, which is all
    that takes)."""

    def __init__(self, pipelining=True):
        self.messages = []
        self.secure = []
        self.pipelining = pipelining

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(-1, "250-PIPELINING")
        return responses

    async def handle_DATA(self, server, session, envelope):
        self.messages.append(envelope)
        self.secure.append(session.ssl is not None)
        return "250 OK"


class RecordingServer:
    """aiosmtpd on a free loopback port. `auth` (user, password) makes AUTH
    required, and with `auth_tls` taken only inside TLS; further options go
    to the controller."""

    def __init__(self, auth=None, auth_tls=False, pipelining=True, **options):
        self.recorder = Recorder(pipelining)
        self.port = free_port()
        if auth:
            options.update(auth_required=True, auth_require_tls=auth_tls,
                           authenticator=lambda server, session, envelope, mechanism, data: AuthResult(
                               success=(data.login, data.password) == auth))
        self.controller = Controller(self.recorder, hostname="127.0.0.1", port=self.port, **options)

    def __enter__(self):
        self.controller.start()
        return self

    def __exit__(self, *exc):
        self.controller.stop()


class ScriptedServer:
    """Answers each command by its first word from `replies` (a text, or a
    list of (delay, text) packets), records the commands, and takes the DATA
    text up to its final dot. The replies to the words in `hold` wait and go
    out with the next reply that does not, as one packet: a client that
    waits for a held reply before its next command waits for ever."""

    def __init__(self, greeting="220 scripted\r\n", replies=None, hold=()):
        self.greeting = greeting
        self.hold = hold
        self.replies = {"HELO": "250 hello\r\n", "EHLO": "250 hello\r\n", "RSET": "250 ok\r\n",
                        "MAIL": "250 ok\r\n", "RCPT": "250 ok\r\n", "DATA": "354 go\r\n",
                        "QUIT": "221 bye\r\n", ".": "250 queued\r\n"}
        self.replies.update(replies or {})
        self.commands = []
        self.data = b""
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(5)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.listener.close()

    def send(self, connection, reply):
        """A packet of None hangs up; a delay of None never answers."""
        packets = [(0, reply)] if isinstance(reply, str) else reply
        for delay, text in packets:
            if delay is None:
                time.sleep(3600)
            time.sleep(delay)
            if text is None:
                connection.shutdown(socket.SHUT_RDWR)
                raise ConnectionAbortedError("hung up as scripted")
            connection.sendall(text.encode())

    def serve(self):
        try:
            while True:
                connection, _ = self.listener.accept()
                with connection:
                    self.session(connection)
        except OSError:
            pass

    def session(self, connection):
        self.send(connection, self.greeting)
        if not self.greeting.startswith("220"):
            time.sleep(0.5)
            return
        buffer = b""
        in_data = False
        held = ""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                return
            buffer += chunk
            while True:
                if in_data:
                    # The DATA line's own end may be the message's first.
                    end = -2 if buffer.startswith(b".\r\n") else buffer.find(b"\r\n.\r\n")
                    if end == -1:
                        break
                    self.data, buffer, in_data = buffer[:end + 2], buffer[end + 5:], False
                    self.commands.append(".")
                    if "." in self.hold:
                        held += self.replies["."]
                    else:
                        self.send(connection, held + self.replies["."])
                        held = ""
                    continue
                end = buffer.find(b"\r\n")
                if end < 0:
                    break
                line, buffer = buffer[:end].decode("latin-1"), buffer[end + 2:]
                self.commands.append(line)
                word = line.split(" ")[0]
                reply = self.replies.get(word) or self.replies.get(word.upper(), "250 ok\r\n")
                word = word.upper()
                if word in self.hold:
                    held += reply
                    continue
                self.send(connection, held + reply if held else reply)
                held = ""
                if word == "DATA" and reply.startswith("354"):
                    in_data = True
                if word == "QUIT":
                    return


class DnsServer:
    """UDP on port 53 of a loopback address of its own; `answer` maps the
    query bytes to the reply bytes (or None for no reply)."""

    def __init__(self, answer):
        self.address = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(1, 254), random.randint(2, 254))
        self.queries = 0
        outer = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                data, sock = self.request
                outer.queries += 1
                reply = answer(data)
                if reply is not None:
                    sock.sendto(reply, self.client_address)

        self.server = socketserver.ThreadingUDPServer((self.address, 53), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def mx_answer(exchanges):
    def answer(data):
        request = DNSRecord.parse(data)
        reply = request.reply()
        name = str(request.q.qname).rstrip(".")
        if name in exchanges:
            reply.add_answer(RR(request.q.qname, QTYPE.MX, rdata=MX(exchanges[name]), ttl=60))
        return reply.pack()
    return answer


def smtp_args(port, to, body="Report body", extra=()):
    return ["smtp", "--host", "127.0.0.1", "--port", str(port), "--from", "crash@sender.test",
            "--to", to, "--subject", "Crash report", "--body-file", body_file(body), *extra]


class MessageTest(unittest.TestCase):
    def test_message_with_attachments_arrives_intact(self):
        files = {"hundred.bin": bytes(range(100)), "REPORT.PNG": os.urandom(120),
                 "big.log": os.urandom(5000)}
        extra = []
        for name, data in files.items():
            extra += ["--attach", wine_path(write(name, data))]
        extra += ["--attach", wine_path(os.path.join(WORK, "missing.txt")), "--time-stamp"]
        body = "First line\r\n.starts with a dot\r\n.\r\n..two dots\r\nlast"
        with RecordingServer() as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", body, extra))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(len(server.recorder.messages), 1)
        raw = server.recorder.messages[0].original_content
        message = email.message_from_bytes(raw, policy=email.policy.compat32)
        self.assertEqual(message["To"], "<dev@receiver.test>")
        self.assertEqual(message["Subject"], "Crash report")
        self.assertTrue(message.is_multipart())
        parts = message.get_payload()
        self.assertEqual(parts[0].get_content_type(), "text/plain")
        self.assertEqual(parts[0].get_payload(), body + "\r\n")
        expected = {"hundred_20240131142501.bin": ("application/octet-stream", files["hundred.bin"]),
                    "REPORT_20240131142501.PNG": ("image/png", files["REPORT.PNG"]),
                    "big_20240131142501.log": ("application/octet-stream", files["big.log"])}
        self.assertEqual(len(parts), 1 + len(expected))
        for part in parts[1:]:
            name = part.get_filename()
            self.assertIn(name, expected)
            self.assertEqual(part.get_param("name"), name)
            self.assertEqual(part.get_content_type(), expected[name][0])
            self.assertEqual(part.get_payload(decode=True), expected[name][1])
            lines = part.get_payload().split("\r\n")
            self.assertTrue(all(len(line) == 80 for line in lines[:-2]), name)
            self.assertLessEqual(len(lines[-2]), 80)

    def test_message_without_attachments_is_still_multipart(self):
        with RecordingServer() as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test"))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        message = email.message_from_bytes(server.recorder.messages[0].original_content)
        self.assertEqual([part.get_content_type() for part in message.get_payload()], ["text/plain"])

    def test_each_recipient_gets_a_session_and_a_to_of_its_own(self):
        with RecordingServer() as server:
            fields, _ = probe(*smtp_args(server.port, "a@one.test; b@two.test , ;c@three.test"))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(fields["count"], ["1/3", "2/3", "3/3"])
        recipients = [m.rcpt_tos for m in server.recorder.messages]
        self.assertEqual(recipients, [["a@one.test"], ["b@two.test"], ["c@three.test"]])
        to = [email.message_from_bytes(m.original_content)["To"] for m in server.recorder.messages]
        self.assertEqual(to, ["<a@one.test>", "<b@two.test>", "<c@three.test>"])


class PipeliningTest(unittest.TestCase):
    EHLO = {"EHLO": "250-scripted\r\n250 PIPELINING\r\n"}

    def test_envelope_goes_in_one_write_and_quit_with_the_message(self):
        # The server answers MAIL and RCPT only with DATA, and the message
        # only with QUIT: a client that waited for either would wait out its
        # timeout, far longer than the run. The three replies come in one
        # packet and are taken one at a time.
        with ScriptedServer(replies=self.EHLO, hold=("MAIL", "RCPT", ".")) as server:
            fields, elapsed = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--reply-timeout", "60000"]))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(server.commands[1:], ["MAIL FROM:<crash@sender.test>", "RCPT TO:<dev@receiver.test>",
                                               "DATA", ".", "QUIT"])
        self.assertIn(b"Report body", server.data)
        self.assertLess(elapsed, 30)

    def test_refusals_in_a_group_are_read_in_turn_and_reported(self):
        # A refused recipient, then DATA refused as a server does, or taken
        # by one that does not: that one gets an empty message, so that the
        # dialogue stays in step, and the delivery fails all the same.
        for data_reply in ("554 no valid recipients\r\n", "354 go ahead\r\n"):
            replies = dict(self.EHLO, RCPT="550 no such user\r\n", DATA=data_reply)
            with self.subTest(data_reply), ScriptedServer(replies=replies, hold=("MAIL", "RCPT")) as server:
                fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--reply-timeout", "60000"]))
            self.assertEqual(fields["result"], ["0"])
            self.assertIn("550 no such user", fields["error_text"])
            self.assertIn(data_reply.strip(), fields["error_text"])
            self.assertEqual(server.commands[-1], "QUIT")
            if data_reply.startswith("354"):
                self.assertEqual((server.commands[-2], server.data), (".", b""))
            else:
                self.assertNotIn(".", server.commands)

    def test_a_server_without_pipelining_gets_one_command_at_a_time(self):
        # The same delivery to a real server that does not offer it.
        with RecordingServer(pipelining=False) as server:
            fields, _ = probe(*smtp_args(server.port, "a@one.test;b@two.test"))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual([m.rcpt_tos for m in server.recorder.messages], [["a@one.test"], ["b@two.test"]])
        with ScriptedServer(hold=("MAIL",)) as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--reply-timeout", "1000"]))
        self.assertEqual(fields["result"], ["0"])
        self.assertIn("Socket timeout.", fields["error_text"])
        self.assertNotIn("RCPT TO:<dev@receiver.test>", server.commands)


class AuthTest(unittest.TestCase):
    def test_auth_login_accepted_by_a_server_that_requires_it(self):
        with RecordingServer(auth=(b"reporter", b"s3cret")) as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test",
                                         extra=["--user", "reporter", "--password", "s3cret"]))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(len(server.recorder.messages), 1)

    def test_refused_credentials_do_not_appear_in_the_error(self):
        replies = {"AUTH": "334 VXNlcm5hbWU6\r\n", "cmVwb3J0ZXI=": "334 UGFzc3dvcmQ6\r\n",
                   "czNjcmV0": "535 authentication failed\r\n"}
        with ScriptedServer(replies=replies) as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test",
                                         extra=["--user", "reporter", "--password", "s3cret"]))
        self.assertEqual(fields["result"], ["0"])
        error = fields["error_text"]
        self.assertIn("535 authentication failed", error)
        self.assertIn("<password>", error)
        for secret in ("cmVwb3J0ZXI=", "czNjcmV0", "s3cret"):
            self.assertNotIn(secret, error)
        self.assertEqual(server.commands[-1], "QUIT")

    def test_credentials_a_server_quotes_back_are_hidden(self):
        replies = {"AUTH": "334 VXNlcm5hbWU6\r\n", "cmVwb3J0ZXI=": "334 UGFzc3dvcmQ6\r\n",
                   "czNjcmV0": "500 unrecognized command czNjcmV0 (from cmVwb3J0ZXI=)\r\n"}
        with ScriptedServer(replies=replies) as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test",
                                         extra=["--user", "reporter", "--password", "s3cret"]))
        self.assertEqual(fields["result"], ["0"])
        self.assertIn("500 unrecognized command <hidden> (from <hidden>)", fields["error_text"])
        for secret in ("cmVwb3J0ZXI=", "czNjcmV0"):
            self.assertNotIn(secret, fields["error_text"])

    def test_empty_user_name_is_an_error(self):
        with ScriptedServer(replies={"AUTH": "334 VXNlcm5hbWU6\r\n"}) as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--password", "s3cret"]))
        self.assertEqual(fields["result"], ["0"])
        self.assertEqual(fields["error_code"], ["5"])
        self.assertIn("user name is empty", fields["error_text"])


class DialogueTest(unittest.TestCase):
    def test_greeting_554_ends_the_dialogue(self):
        with ScriptedServer(greeting="554 no service here\r\n") as server:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test"))
        self.assertEqual(fields["result"], ["0"])
        self.assertIn("554 no service here", fields["error_text"])
        self.assertEqual(server.commands, [])

    def test_refused_recipient_fails_that_dialogue_only(self):
        replies = {"RCPT": "550 no such user\r\n"}
        with ScriptedServer(replies=replies) as server:
            fields, _ = probe(*smtp_args(server.port, "a@x.test;b@y.test"))
        self.assertEqual(fields["result"], ["0"])
        self.assertIn("550 no such user", fields["error_text"])
        self.assertEqual([c for c in server.commands if c.startswith("RCPT")],
                         ["RCPT TO:<a@x.test>", "RCPT TO:<b@y.test>"])
        self.assertNotIn("DATA", server.commands)

    def test_multi_line_and_split_replies_are_one_reply_each(self):
        replies = {"EHLO": [(0, "250-scripted\r\n250-SIZE 1000000\r\n"), (0.3, "250 AUTH LOGIN\r\n")],
                   "MAIL": [(0, "25"), (0.2, "0 ok\r\n")],
                   "AUTH": "334 VXNlcm5hbWU6\r\n", "dXNlcg==": "334 UGFzc3dvcmQ6\r\n",
                   "cGFzcw==": "235 welcome\r\n"}
        with ScriptedServer(replies=replies) as server:
            fields, elapsed = probe(*smtp_args(server.port, "dev@receiver.test",
                                               extra=["--user", "user", "--password", "pass"]))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(server.commands[-2:], [".", "QUIT"])

    def test_silence_and_a_hang_up_end_the_dialogue_each_with_its_own_error(self):
        # A server that stops answering gets the reply timeout, and no
        # further command; one that hangs up midway is told apart and not
        # waited for: the timeout here is far longer than the run.
        # A reply that stops after its first line is no reply either.
        for replies in ({"MAIL": [(None, "")]}, {"MAIL": [(0, "250-first line\r\n"), (None, "")]}):
            with ScriptedServer(replies=replies) as server:
                fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--reply-timeout", "1000"]))
            self.assertEqual(fields["result"], ["0"], replies)
            self.assertIn("Socket timeout.", fields["error_text"])
            self.assertNotIn("RCPT TO:<dev@receiver.test>", server.commands)
        for replies in ({"EHLO": [(0, None)]}, {"MAIL": [(0, "250-first line\r\n"), (0, None)]}):
            with ScriptedServer(replies=replies) as server:
                fields, elapsed = probe(*smtp_args(server.port, "dev@receiver.test",
                                                   extra=["--reply-timeout", "60000"]))
            self.assertEqual(fields["result"], ["0"], replies)
            self.assertIn("The server closed the connection.", fields["error_text"])
            self.assertLess(elapsed, 30, replies)

    def test_dialogue_does_not_wait_for_quiet_periods(self):
        with RecordingServer() as server:
            probe(*smtp_args(server.port, "warm@receiver.test"))  # Wine's start-up
            fields, elapsed = probe(*smtp_args(server.port, "a@x.test;b@y.test;c@z.test"))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        # Seven replies per dialogue: a quiet second each would take 21 s.
        self.assertLess(elapsed, 8, elapsed)


class DirectDeliveryTest(unittest.TestCase):
    def test_delivery_through_the_mx_answer(self):
        with RecordingServer() as server, DnsServer(mx_answer({"receiver.test": "localhost"})) as dns:
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test",
                                         extra=["--direct", "--dns", dns.address]))
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertIn("Resolving DNS...", fields["status"])
        self.assertEqual(server.recorder.messages[0].rcpt_tos, ["dev@receiver.test"])

    def test_domain_without_mx_stops_the_remaining_recipients(self):
        with RecordingServer() as server, DnsServer(mx_answer({"receiver.test": "localhost"})) as dns:
            fields, elapsed = probe(*smtp_args(server.port, "a@nomx.test;b@receiver.test",
                                               extra=["--direct", "--dns", dns.address,
                                                      "--resolve-timeout", "250"]))
        self.assertEqual(fields["result"], ["0"])
        self.assertIn('Cannot resolve the "nomx.test" MX record.', fields["error_text"])
        self.assertEqual(dns.queries, 5)
        self.assertEqual(server.recorder.messages, [])

    def test_hostile_replies_are_given_up_cleanly(self):
        def loop(data):  # the answer's exchange points at itself
            question = data[12:]
            at = 12 + len(question) + 14
            return (data[:2] + b"\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00" + question +
                    b"\xc0\x0c\x00\x0f\x00\x01\x00\x00\x00\x3c\x00\x04\x00\x0a" + bytes([0xC0, at]))

        def truncated(data):
            return data[:2] + b"\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00" + data[12:] + b"\xc0\x0c\x00\x0f\x00"

        def silent(data):
            return None

        for name, answer in (("loop", loop), ("truncated", truncated), ("silent", silent)):
            with self.subTest(name), DnsServer(answer) as dns:
                fields, elapsed = probe(*smtp_args(25, "a@receiver.test",
                                                   extra=["--direct", "--dns", dns.address,
                                                          "--resolve-timeout", "250"]))
                self.assertEqual(fields["result"], ["0"])
                self.assertIn('Cannot resolve the "receiver.test" MX record.', fields["error_text"])
                self.assertEqual(dns.queries, 5)

    def test_delivery_through_the_systems_dns_server(self):
        with RecordingServer() as server, DnsServer(mx_answer({"receiver.test": "localhost"})) as dns:
            servers, _ = probe("dns-servers", resolver=dns.address)
            self.assertEqual(servers["server"], [dns.address, "9.9.9.9"])
            fields, _ = probe(*smtp_args(server.port, "dev@receiver.test", extra=["--direct"]), resolver=dns.address)
        self.assertEqual(fields["result"], ["1"], fields["error_text"])
        self.assertEqual(server.recorder.messages[0].rcpt_tos, ["dev@receiver.test"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("prefix")
    parser.add_argument("--bin", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
