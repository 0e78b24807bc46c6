#!/usr/bin/env python3
"""The web upload against real servers on 127.0.0.1: an HTTP and an HTTPS
server (self-signed certificate) that record every POST and answer as the
path asks, one that drops the connection halfway through the body, and an
FTP server with a writable and a refused folder. The uploads run under Wine
in upload_probe.exe; what arrived is read back with Python's own multipart
and file reading."""
import argparse
import email.parser
import email.policy
import http.server
import os
import random
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer as PyFTPServer

ARGS = None
WORK = tempfile.mkdtemp(prefix="web_upload_")
TABLE_CODES = {12002, 12004, 12029, 12030, 12031, 12152, 12163}
# What the upload hands WinInet per write; progress is reported after each.
BLOCK = 64 * 1024


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def write(name, data):
    path = os.path.join(WORK, name)
    with open(path, "wb") as file:
        file.write(data)
    return path


def read(path):
    with open(path, "rb") as file:
        return file.read()


def random_bytes(count, seed):
    generator = random.Random(seed)
    # Every byte value, line breaks and boundary-like runs included.
    return generator.randbytes(count) + b"\r\n--\r\n\0\r"


def probe(method, *arguments, env=None, timeout=180):
    command = [ARGS.run, ARGS.prefix, os.path.join(ARGS.bin, "upload_probe.exe"), method, *arguments]
    done = subprocess.run(command, capture_output=True, timeout=timeout, env={**os.environ, **(env or {})})
    text = done.stdout.decode("latin-1").replace("\r\n", "\n")
    head, _, response = text.partition("response=")
    fields = {"progress": [], "elapsed": [], "response": response.rstrip("\n"),
              "stderr": done.stderr.decode("latin-1")}
    for line in head.split("\n"):
        key, _, value = line.partition("=")
        if key == "progress":
            fields["progress"].append(tuple(int(n) for n in value.split(",")))
        elif key == "elapsed_ms":
            fields["elapsed"].append(float(value))
        elif key:
            fields[key] = value
    return fields


def file_args(*pairs):
    arguments = []
    for path, name in pairs:
        arguments += ["--file", wine_path(path) if path.startswith("/") else path, "--name", name]
    return arguments


class Recorder(http.server.BaseHTTPRequestHandler):
    """Keeps every POST; the path chooses the answer."""

    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        server = self.server
        length = int(self.headers.get("Content-Length", "0"))
        if self.path == "/drop":
            # Take a little of the body, then go away without an answer.
            self.rfile.read(min(length, 4096))
            server.dropped += 1
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
            self.close_connection = True
            return
        body = self.rfile.read(length)
        server.posts.append((self.path, dict(self.headers.items()), body))
        if self.path == "/created":
            self.send_response(201, "Stored, not processed")
        else:
            self.send_response(200, "OK")
        answer = b"thanks"
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)


class WebServer:
    def __init__(self, certificate=None):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
        self.server.posts = []
        self.server.dropped = 0
        self.server.connections = 0
        original = self.server.get_request

        def counted():
            request = original()
            self.server.connections += 1
            return request

        self.server.get_request = counted
        if certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*certificate)
            self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]

    def __enter__(self):
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        return self.server

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def parse_form(headers, body):
    """The body through Python's multipart parser: (fields, files by form name)."""
    content_type = headers["Content-Type"]
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body)
    assert message.is_multipart(), body[:200]
    fields, files = [], {}
    for part in message.iter_parts():
        name = part.get_param("name", header="content-disposition")
        filename = part.get_param("filename", header="content-disposition")
        payload = part.get_payload(decode=True)
        if filename is None:
            fields.append((name, payload.decode("latin-1")))
        else:
            files[name] = (filename, part.get_content_type(), payload)
    return fields, files


class HttpUploadTest(unittest.TestCase):
    def test_two_files_and_two_fields_arrive_to_the_byte(self):
        log = write("VellumDeskBand.elf", random_bytes(5000, 1))
        shot = write("Screenshot.png", random_bytes(1500, 2))
        with WebServer() as server:
            fields = probe("http", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                           "--path", "cgi/upload.php", *file_args((log, "VellumDeskBand.elf"),
                                                                   (shot, "Screenshot_20240131142501.png")),
                           "--field", "product", "Vellum 7", "--field", "user note", 'said "hi"; name=x')
        self.assertEqual(fields["result"], "0", fields)
        self.assertEqual(fields["response"], "")
        path, headers, body = server.posts[0]
        self.assertEqual(path, "/cgi/upload.php")
        self.assertEqual(headers["User-Agent"], "DeveruVuz")
        self.assertRegex(headers["Content-Type"], r"^multipart/form-data; boundary=-{27}[0-9A-F]{12}$")
        form_fields, files = parse_form(headers, body)
        self.assertEqual(form_fields, [("product", "Vellum 7"), ("user note", 'said "hi"; name=x')])
        self.assertEqual(files["el_upload_file_0"], ("VellumDeskBand.elf", "application/octet-stream",
                                                    read(log)))
        self.assertEqual(files["el_upload_file_1"][0], "Screenshot_20240131142501.png")
        self.assertEqual(files["el_upload_file_1"][2], read(shot))
        # Stage 0 and 1 before the body, then one call per written block.
        total = len(body)
        self.assertEqual(fields["progress"][:2], [(0, total, 0), (1, total, 0)])
        blocks = fields["progress"][2:]
        self.assertEqual(len(blocks), (total + BLOCK - 1) // BLOCK)
        self.assertEqual([done for _, _, done in blocks], [min(total, BLOCK * (n + 1)) for n in range(len(blocks))])

    def test_field_lists_pair_up_and_a_vanished_file_keeps_the_next_index(self):
        kept = write("kept.txt", b"kept bytes")
        with WebServer() as server:
            fields = probe("http", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                           "--path", "upload", *file_args((os.path.join(WORK, "vanished.txt"), "vanished.txt"),
                                                          (kept, "kept.txt")),
                           "--field", "a", "1", "--field", "b", "2", "--value", "3")
        self.assertEqual(fields["result"], "0", fields)
        form_fields, files = parse_form(server.posts[0][1], server.posts[0][2])
        self.assertEqual(form_fields, [("a", "1"), ("b", "2")])
        self.assertEqual(sorted(files), ["el_upload_file_1"])
        self.assertEqual(files["el_upload_file_1"][2], b"kept bytes")

    def test_status_201_is_a_failure_with_the_servers_words(self):
        with WebServer() as server:
            fields = probe("http", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                           "--path", "created", "--field", "a", "1")
        self.assertEqual(fields["result"], "201")
        self.assertEqual(fields["response"], "Stored, not processed")
        self.assertEqual(len(server.posts), 1)

    def test_a_server_that_drops_the_connection_midway(self):
        big = write("big.bin", random_bytes(6 * 1024 * 1024, 3))
        with WebServer() as server:
            fields = probe("http", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                           "--path", "drop", *file_args((big, "big.bin")))
        self.assertEqual(server.dropped, 1)
        code = int(fields["result"])
        self.assertIn(code, TABLE_CODES, fields)
        self.assertNotEqual(fields["response"], "")
        # The body stopped at the failure instead of writing every block.
        self.assertLess(len(fields["progress"]), 2 + 6 * 1024 * 1024 // BLOCK,
                        "writes went on after the connection died")

    def test_nobody_listening(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        fields = probe("http", "--host", "127.0.0.1", "--port", str(port), "--path", "upload", "--field", "a", "1")
        self.assertEqual(fields["result"], "12029")
        self.assertEqual(fields["response"], "The attempt to connect to the server failed.")

    def test_missing_wininet_is_minus_one_without_network_activity(self):
        log = write("quiet.elf", b"quiet")
        with WebServer() as server:
            # Wine's loader refuses the library, as a system without it would.
            fields = probe("http", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                           "--path", "upload", *file_args((log, "quiet.elf")), env={"WINEDLLOVERRIDES": "wininet=d"})
            ftp = probe("ftp", "--host", "127.0.0.1", "--port", str(server.server_address[1]),
                        *file_args((log, "quiet.elf")), env={"WINEDLLOVERRIDES": "wininet=d"})
        for result in (fields, ftp):
            self.assertEqual(result["result"], "-1", result)
            self.assertEqual(result["progress"], [])
        self.assertEqual(server.connections, 0)

    def test_address_split_then_the_upload_port(self):
        log = write("split.elf", b"split")
        with WebServer() as server:
            port = str(server.server_address[1])
            # The port written between host and path is the host's port, not
            # a user name followed by a host called by the port's digits.
            fields = probe("http", "--address", f"http://127.0.0.1:{port}/cgi/upload", "--port", port,
                           *file_args((log, "split.elf")))
        self.assertEqual(fields["result"], "0", fields)
        self.assertEqual(server.posts[0][0], "/cgi/upload")


class HttpsUploadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.key = os.path.join(WORK, "key.pem")
        cls.cert = os.path.join(WORK, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", cls.key,
                        "-out", cls.cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=DNS:127.0.0.1,IP:127.0.0.1"], check=True, capture_output=True)
        cls.der = write("cert.der", ssl.PEM_cert_to_DER_cert(read(cls.cert).decode()))

    def test_untrusted_certificate_then_trusted(self):
        log = write("secure.elf", random_bytes(3000, 4))
        with WebServer((self.cert, self.key)) as server:
            port = str(server.server_address[1])
            untrusted = probe("https", "--host", "127.0.0.1", "--port", port, "--path", "upload",
                              *file_args((log, "secure.elf")))
            self.assertEqual(untrusted["result"], "12045", untrusted)
            self.assertEqual(untrusted["response"], "The function is unfamiliar with the Certificate Authority "
                                                    "that generated the server's certificate.")
            self.assertEqual(server.posts, [])
            self.assertEqual(probe("trust", wine_path(self.der))["result"], "0")
            try:
                trusted = probe("https", "--host", "127.0.0.1", "--port", port, "--path", "upload",
                                *file_args((log, "secure.elf")), "--field", "a", "1")
            finally:
                probe("untrust", wine_path(self.der))
        self.assertEqual(trusted["result"], "0", trusted)
        _, files = parse_form(server.posts[0][1], server.posts[0][2])
        self.assertEqual(files["el_upload_file_0"][2], read(log))


class FtpServer:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="ftp_", dir=WORK)
        os.makedirs(os.path.join(self.root, "reports", "in"))
        os.makedirs(os.path.join(self.root, "locked"))
        authorizer = DummyAuthorizer()
        authorizer.add_user("reporter", "s3cret", self.root, perm="elradfmwMT")
        authorizer.override_perm("reporter", os.path.join(self.root, "locked"), perm="elr", recursive=True)
        handler = type("Handler", (FTPHandler,), {"authorizer": authorizer, "banner": "test ftp ready"})
        # A loop of its own: the shared one is closed with the server before.
        self.server = PyFTPServer(("127.0.0.1", 0), handler, ioloop=IOLoop())
        self.port = self.server.address[1]

    def __enter__(self):
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"timeout": 0.2}, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.close_all()


class FtpUploadTest(unittest.TestCase):
    def upload(self, server, path, pairs, user="reporter", password="s3cret"):
        return probe("ftp", "--host", "127.0.0.1", "--port", str(server.port), "--path", path,
                     "--user", user, "--password", password, *file_args(*pairs))

    def test_files_are_stored_byte_identically(self):
        log = write("ftp_log.elf", random_bytes(5000, 5))
        empty = write("ftp_empty.txt", b"")
        shot = write("ftp_shot.png", random_bytes(2048, 6))
        with FtpServer() as server:
            fields = self.upload(server, "reports/in", [(log, "VellumDeskBand_20240131142501.elf"),
                                                        (os.path.join(WORK, "ftp_gone.txt"), "gone.txt"),
                                                        (empty, "empty.txt"), (shot, "C:\\Temp\\Screenshot.png")])
        self.assertEqual(fields["result"], "0", fields)
        folder = os.path.join(server.root, "reports", "in")
        self.assertEqual(sorted(os.listdir(folder)), ["Screenshot.png", "VellumDeskBand_20240131142501.elf",
                                                      "empty.txt"])
        self.assertEqual(read(os.path.join(folder, "VellumDeskBand_20240131142501.elf")),
                         read(log))
        self.assertEqual(read(os.path.join(folder, "Screenshot.png")), read(shot))
        self.assertEqual(os.path.getsize(os.path.join(folder, "empty.txt")), 0)
        total = 5000 + 8 + 2048 + 8
        self.assertEqual(fields["progress"][:2], [(0, total, 0), (1, total, 0)])
        self.assertEqual(fields["progress"][-1], (2, total, total))
        # One call per written block: each file fits in one; the empty one has none.
        self.assertEqual(len(fields["progress"]), 2 + 1 + 1)

    def test_refused_folder_stops_at_the_first_file_with_the_servers_reply(self):
        first = write("refused_1.elf", b"one")
        second = write("refused_2.elf", b"two")
        with FtpServer() as server:
            fields = self.upload(server, "locked/", [(first, "one.elf"), (second, "two.elf")])
        self.assertNotEqual(fields["result"], "0")
        self.assertRegex(fields["response"], r"^550 ")
        self.assertEqual(os.listdir(os.path.join(server.root, "locked")), [])
        self.assertEqual([stage for stage, _, _ in fields["progress"]], [0, 1])

    def test_wrong_password_carries_the_servers_reply(self):
        log = write("login.elf", b"x")
        with FtpServer() as server:
            fields = self.upload(server, "", [(log, "login.elf")], password="wrong")
        self.assertNotEqual(fields["result"], "0")
        self.assertRegex(fields["response"], r"530")

    def test_trailing_port_address_uses_the_upload_port(self):
        log = write("trailing.elf", b"trailing")
        with FtpServer() as server:
            fields = probe("ftp", "--address", "ftp://127.0.0.1:2121", "--port", str(server.port),
                           "--user", "reporter", "--password", "s3cret", *file_args((log, "trailing.elf")))
        self.assertEqual(fields["result"], "0", fields)
        self.assertEqual(read(os.path.join(server.root, "trailing.elf")), b"trailing")

    def test_empty_list_does_nothing(self):
        fields = probe("ftp", "--host", "127.0.0.1", "--port", "1")
        self.assertEqual(fields["result"], "0")
        self.assertEqual(fields["progress"], [])


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
