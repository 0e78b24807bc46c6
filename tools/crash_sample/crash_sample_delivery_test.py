#!/usr/bin/env python3
"""Real reports delivered the way their options say, watched from outside:
copies of the crash sample with delivery options (written by eldata) raise a
real error under Wine; an SMTP server, an HTTP server and a mail client's
stand-ins on this machine receive what the program sends. The sample prints
the events it raised, the message boxes it answered and the delivery's
result (sample_delivery_win.h); the temporary folder it is given must be
empty afterwards, whatever happened."""
import argparse
import email
import email.policy
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import unittest

from aiosmtpd.controller import Controller

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_runs import add_arch_argument, options_copy, run  # noqa: E402

ARGS = None

PROGRESS_DIALOG, RESULT_MESSAGE, WHOLE_LOG, XML_COPY, SCREENSHOT = 0x01, 0x02, 0x04, 0x08, 0x10
BACKGROUND, TIME_STAMPS, COMPRESS = 0x80, 0x100, 0x200
BURST_CHECK, CLIPBOARD_ON_FAILURE, KEEP_UNSENT = 0x01, 0x20, 0x40
AT_SENDING_EMAIL, AT_SENT_EMAIL, AT_SENDING_WEB, AT_SENT_WEB, AT_TERMINATING = 4, 5, 6, 7, 8


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Mailbox:
    """An SMTP server that keeps what it accepts; with `refuse` it turns
    every recipient away, counting the sessions that tried."""

    def __init__(self, refuse=False):
        self.messages = []
        self.sessions = 0
        self.refuse = refuse
        self.controller = Controller(self, hostname="127.0.0.1", port=free_port())
        self.controller.start()
        self.port = self.controller.port

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.sessions += 1
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        self.sessions += 1
        session.host_name = hostname
        return "250 {}".format(server.hostname)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.messages.append(email.message_from_bytes(envelope.original_content, policy=email.policy.default))
        return "250 Message accepted"

    def stop(self):
        self.controller.stop()


class WebServer:
    """An HTTP server that records every request it gets."""

    def __init__(self):
        requests = self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0))
                requests.append((self.path, self.rfile.read(length)))
                self.send_response(200)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()


class DeliveryTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="delivery-")
        self.temp = os.path.join(self.work, "temp")
        os.mkdir(self.temp)
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def mailbox(self, refuse=False):
        box = Mailbox(refuse)
        self.servers.append(box)
        return box

    def sample(self, options, program="crash_sample_console.exe", name=None):
        # No screenshot unless a test asks for one (the default sends it).
        text = "DialogFlags = 0x1E\nStackFlags = 0x1F\nSendFlags = 0\nMailRecipients = dev@example.com\n" \
               "MailSubject = Crash sample report\nSmtpServer = 127.0.0.1\n" + options
        # The options file reads "\\" as one backslash ("\t" would be a tab).
        text = text.replace("\\", "\\\\")
        folder = os.path.join(self.work, name or "program")
        os.makedirs(folder, exist_ok=True)
        return options_copy(ARGS.eldata, os.path.join(ARGS.bin, program), folder, program, text)

    def raise_error(self, program, fault="throw", argument=None, events="", boxes="", timeout=120):
        env = dict(os.environ, TMP=wine_path(self.temp), TEMP=wine_path(self.temp), CRASH_SAMPLE_EVENTS=events,
                   CRASH_SAMPLE_ANSWER_BOXES=boxes)
        command = ARGS.run + [program, fault] + ([str(argument)] if argument is not None else [])
        code, output = run(command, env=env, timeout=timeout)
        return code, output.splitlines()

    def delivery(self, lines):
        results = [line.split(" | ") for line in lines if line.startswith("delivery: ")]
        self.assertEqual(len(results), 1, lines)
        return results[0][0] == "delivery: 1", results[0][1], " | ".join(results[0][2:])

    def assertTemporaryFolderEmpty(self):
        self.assertEqual(os.listdir(self.temp), [], "temporary files stay behind")

    def test_mail_carries_archive_that_tar_extracts(self):
        box = self.mailbox()
        extra = os.path.join(self.work, "settings.ini")
        with open(extra, "wb") as f:
            f.write(b"[Options]\r\nMode=2\r\n" + bytes(range(256)))
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nSendFlags = 0x{COMPRESS | XML_COPY | SCREENSHOT:X}\n"
                              f"ExtraFiles = {wine_path(extra)} ; \n")
        code, lines = self.raise_error(program)
        self.assertEqual(self.delivery(lines)[:2], (True, "eeNone"), lines)
        self.assertEqual(len(box.messages), 1)
        message = box.messages[0]
        self.assertEqual(message["Subject"], "Crash sample report")
        parts = [part for part in message.iter_attachments()]
        self.assertEqual([part.get_filename() for part in parts], ["CompressFiles.tgz"])
        archive = os.path.join(self.work, "received.tgz")
        with open(archive, "wb") as f:
            f.write(parts[0].get_payload(decode=True))
        listed = subprocess.run(["tar", "-tzf", archive], capture_output=True, text=True, check=True).stdout.split()
        self.assertEqual(sorted(listed), ["Screenshot.png", "crash_sample_console.elf", "crash_sample_console.xml",
                                          "settings.ini"])
        out = os.path.join(self.work, "extracted")
        os.mkdir(out)
        subprocess.run(["tar", "-xzf", archive, "-C", out], check=True)
        with open(os.path.join(out, "settings.ini"), "rb") as f, open(extra, "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(os.path.join(out, "crash_sample_console.elf"), "rb") as f:
            log = f.read()
        self.assertIn(b"ESampleError", log)
        self.assertTrue(log.endswith(b"\r\n\r\n\r\n"))
        subprocess.run(["xmllint", "--noout", os.path.join(out, "crash_sample_console.xml")], check=True)
        subprocess.run(["pngcheck", "-q", os.path.join(out, "Screenshot.png")], check=True)
        self.assertTemporaryFolderEmpty()

    def test_veto_skips_mail_and_keeps_the_report(self):
        box = self.mailbox()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\n"
                              f"BehaviorFlags = 0x{CLIPBOARD_ON_FAILURE | KEEP_UNSENT:X}\n")
        code, lines = self.raise_error(program, events=f"print,veto={AT_SENDING_EMAIL}")
        delivered, _, _ = self.delivery(lines)
        self.assertFalse(delivered)
        self.assertEqual(box.sessions, 0)
        events = [line for line in lines if line.startswith("event: ")]
        self.assertIn(f"event: {AT_SENDING_EMAIL} main", events)
        self.assertNotIn(f"event: {AT_SENT_EMAIL} main", events)
        clipboard = [line[len("clipboard: "):] for line in lines if line.startswith("clipboard: ")]
        with open(os.path.join(os.path.dirname(program), "crash_sample_console.elf"), encoding="latin-1") as f:
            log = f.read()
        self.assertTrue(clipboard and clipboard[0] and clipboard[0] in log, (clipboard, lines))
        kept = os.path.join(os.path.dirname(program), "CompressFiles.tgz")
        listed = subprocess.run(["tar", "-tzf", kept], capture_output=True, text=True, check=True).stdout.split()
        self.assertEqual(listed, ["crash_sample_console.elf"])
        self.assertTemporaryFolderEmpty()

    def test_retry_runs_the_attempt_again(self):
        box = self.mailbox(refuse=True)
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\n")
        code, lines = self.raise_error(program, events=f"print,retry={AT_SENT_EMAIL}")
        delivered, error, message = self.delivery(lines)
        self.assertFalse(delivered)
        self.assertEqual(error, "eeEmailSMTPError")
        self.assertIn("No such user here", message)
        self.assertEqual(box.sessions, 2, "one attempt, then the retry the handler asked for")
        self.assertEqual([line for line in lines if line.startswith("error-event: ")],
                         [f"error-event: {AT_SENT_EMAIL}"] * 2)
        self.assertEqual(lines.count(f"event: {AT_SENT_EMAIL} main"), 1)
        self.assertTemporaryFolderEmpty()

    def test_failed_deliveries_keep_every_report_and_only_ten(self):
        closed = free_port()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {closed}\nBehaviorFlags = 0x{KEEP_UNSENT:X}\n")
        folder = os.path.dirname(program)
        for _ in range(2):
            self.assertFalse(self.delivery(self.raise_error(program)[1])[0])
        kept = sorted(name for name in os.listdir(folder) if name.endswith(".tgz"))
        self.assertEqual(kept, ["CompressFiles.tgz", "CompressFiles_2.tgz"], "the second failure overwrote the first")
        now = time.time()
        for i in range(9):
            path = os.path.join(folder, f"Older_{i}.tgz")
            with open(path, "wb") as f:
                f.write(b"")
            os.utime(path, (now - 1000 + i, now - 1000 + i))
        self.assertFalse(self.delivery(self.raise_error(program)[1])[0])
        kept = sorted(name for name in os.listdir(folder) if name.endswith(".tgz"))
        self.assertEqual(len(kept), 10, kept)
        self.assertNotIn("Older_0.tgz", kept)
        self.assertNotIn("Older_1.tgz", kept)
        self.assertIn("CompressFiles_3.tgz", kept)
        self.assertTemporaryFolderEmpty()

    def test_whole_log_goes_instead_of_the_report(self):
        box = self.mailbox()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nSendFlags = 0x{WHOLE_LOG:X}\n")
        for _ in range(2):
            self.assertTrue(self.delivery(self.raise_error(program, fault="av")[1])[0])
        logs = [next(m.iter_attachments()).get_payload(decode=True) for m in box.messages]
        self.assertEqual(len(logs), 2)
        self.assertEqual(logs[1].count(b"EAccessViolation"), 2 * logs[0].count(b"EAccessViolation"),
                         "the second mail carries both reports of the log")
        self.assertTemporaryFolderEmpty()

    def test_time_stamped_names(self):
        box = self.mailbox()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nSendFlags = 0x{TIME_STAMPS:X}\n")
        self.assertTrue(self.delivery(self.raise_error(program)[1])[0])
        names = [part.get_filename() for part in box.messages[0].iter_attachments()]
        self.assertEqual(len(names), 1)
        self.assertRegex(names[0], r"^crash_sample_console_\d{14}\.elf$")

    def test_result_message_follows_the_smtp_error_box(self):
        box = self.mailbox(refuse=True)
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\n"
                              f"SendFlags = 0x{PROGRESS_DIALOG | RESULT_MESSAGE:X}\n", program="crash_sample.exe")
        code, lines = self.raise_error(program, boxes="Error.;Information.")
        boxes = [line for line in lines if line.startswith("box: ")]
        self.assertEqual(len(boxes), 2, lines)
        self.assertTrue(boxes[0].startswith("box: Error. | [SMTP] ") and "No such user here" in boxes[0], boxes)
        self.assertEqual(boxes[1], "box: Information. | Sorry, sending the message didn't work.")
        self.assertTemporaryFolderEmpty()

    def test_success_message(self):
        box = self.mailbox()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nSendFlags = 0x{RESULT_MESSAGE:X}\n")
        code, lines = self.raise_error(program, boxes="Information.")
        self.assertIn("box: Information. | The message was sent successfully.", lines)

    def test_background_thread_delivers_and_ends_the_program(self):
        box = self.mailbox()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nSendFlags = 0x{BACKGROUND:X}\n"
                              f"BehaviorFlags = 0x{BURST_CHECK:X}\nBurstCount = 1\nBurstAction = 0\n")
        code, lines = self.raise_error(program, fault="throw-wait", argument=20, events="print")
        self.assertIn("reported", lines, "the program went on while the report was sent")
        self.assertNotIn("waited", lines, "the burst's terminate did not come from the send thread")
        self.assertEqual(code, 1)
        self.assertEqual(len(box.messages), 1)
        self.assertIn(f"event: {AT_SENT_EMAIL} other", lines)
        self.assertIn(f"event: {AT_TERMINATING} other", lines)
        self.assertTemporaryFolderEmpty()

    def test_upload_with_nothing_to_send_is_delivered_without_traffic(self):
        web = WebServer()
        self.servers.append(web)
        program = self.sample(f"UploadMethod = 1\nUploadAddress = 127.0.0.1/upload\nUploadPort = {web.port}\n"
                              "LogInMessageBody = true\n")
        self.assertEqual(self.delivery(self.raise_error(program)[1])[:2], (True, "eeNone"))
        self.assertEqual(web.requests, [])

    def test_mail_and_upload_one_failing(self):
        box = self.mailbox()
        closed = free_port()
        program = self.sample(f"MailMethod = 2\nSmtpPort = {box.port}\nUploadMethod = 1\n"
                              f"UploadAddress = 127.0.0.1/upload\nUploadPort = {closed}\n")
        code, lines = self.raise_error(program, events="print,fields")
        delivered, error, message = self.delivery(lines)
        self.assertFalse(delivered)
        self.assertEqual(error, "eeWebHTTPError")
        self.assertTrue(message.startswith("HTTP error code: 12029"), message)
        self.assertEqual(len(box.messages), 1, "the mail went although the upload failed")
        self.assertIn(f"event: {AT_SENT_WEB} main", lines)
        self.assertTemporaryFolderEmpty()

    def test_upload_posts_the_files_and_fields(self):
        web = WebServer()
        self.servers.append(web)
        # The address's own port serves: the port option is not set.
        program = self.sample(f"UploadMethod = 1\nUploadAddress = http://127.0.0.1:{web.port}/reports/new\n")
        code, lines = self.raise_error(program, events="fields")
        self.assertTrue(self.delivery(lines)[0], lines)
        self.assertEqual(len(web.requests), 1)
        path, body = web.requests[0]
        self.assertEqual(path, "/reports/new")
        self.assertIn(b"name=build;\r\n\r\n42\r\n", body)
        self.assertIn(b"filename=crash_sample_console.elf;", body)
        self.assertIn(b"ESampleError", body)

    def test_broken_mail_client_falls_through_to_mailto(self):
        record = os.path.join(self.work, "mailto.txt")
        # A client library without the MAPI entry points: Wine's own MAPI is
        # not tried (it would say it sent the mail and drop it).
        restore = register_mail_client(os.path.join(ARGS.bin, "mailto_standin.exe"))
        try:
            program = self.sample("MailMethod = 1\nMailBody = Please look at this.\n")
            os.environ["VELLUM_MAIL_STANDIN_RECORD"] = wine_path(record)
            try:
                code, lines = self.raise_error(program)
            finally:
                del os.environ["VELLUM_MAIL_STANDIN_RECORD"]
        finally:
            restore()
        self.assertTrue(self.delivery(lines)[0], lines)
        with open(record, encoding="latin-1") as f:
            text = f.read()
        self.assertIn("mailto:dev@example.com", text)
        self.assertIn("Crash%20sample%20report", text)
        self.assertIn("ESampleError", text)


def wine_reg(*arguments):
    return subprocess.run(ARGS.run + ["reg", *arguments], capture_output=True, text=True)


def register_mail_client(dll_path):
    """Registers a mail client with the given MAPI library, and the mailto
    stand-in as the mailto command; answers what puts things back."""
    clients = r"HKCU\SOFTWARE\Clients\Mail"
    command_key = r"HKCR\mailto\shell\open\command"
    saved = wine_reg("query", command_key, "/ve")
    wine_reg("add", clients, "/ve", "/d", "Vellum Stand-in", "/f")
    wine_reg("add", clients + r"\Vellum Stand-in", "/v", "DLLPath", "/d", wine_path(dll_path), "/f")
    standin = wine_path(os.path.join(ARGS.bin, "mailto_standin.exe"))
    wine_reg("add", command_key, "/ve", "/d", f'"{standin}" "%1"', "/f")

    def restore():
        wine_reg("delete", clients, "/f")
        old = [line for line in saved.stdout.splitlines() if "REG_" in line]
        if old:
            wine_reg("add", command_key, "/ve", "/d", old[0].split("REG_SZ", 1)[-1].strip(), "/f")
    return restore


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs="+", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--eldata", required=True)
    parser.add_argument("--exlog", required=True)
    add_arch_argument(parser)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
