"""clifclient against a CMS that fails: refused connections, resets, broken and truncated replies,
HTTP errors, replies of the wrong type, a connection dropped while the client still sends, a kept
connection that the server closes at each point or frames doubtfully, a closed reader of its
output, and closed standard descriptors at start.

Each failed call must end the run with the client's message for that call and status 255,
keep the remote output already shown, and add only the cause on standard error.

usage: test_client_faults.py CLIFCLIENT [unittest options]
"""

import ctypes
import os
import zlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
import vel_testsupport as vt  # noqa: E402
from clif_texts import CONNECTION_HELP, INVOKE_FAILED, PANIC_LINE  # noqa: E402
from fault_server import (FaultServer, close_notify, hang_up_while_receiving, hold, http_response,  # noqa: E402
                          idle, in_turn, kept, read_and_close, refuse_after, reply, reply_and_hold, reply_streamed,
                          reset_after)

CLIFCLIENT = None
ENV = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}
TIMEOUT = 60

EOF_TEXT = "End of file or no input: "
MIB = 1 << 20
# The bound of the flat-memory test (soap.large_output): what the client may hold whatever the reply.
RSS_LIMIT_KB = 64 * 1024

# Runs the command from a fresh interpreter and reports its peak resident size on a descriptor: a
# child forked straight from the test process would count the test's own memory as its peak.
MEASURED = ("import os, sys\n"
            "pid = os.fork()\n"
            "if pid == 0:\n"
            "    os.execve(sys.argv[2], sys.argv[2:], os.environ)\n"
            "_, status, usage = os.wait4(pid, 0)\n"
            "os.write(int(sys.argv[1]), b'%d' % usage.ru_maxrss)\n"
            "sys.exit(os.waitstatus_to_exitcode(status) & 0xff)\n")


def logon_ok():
    return http_response(vt.envelope('<ns0:logonResponse><logonReturn xsi:type="xsd:string">tok'
                                     '</logonReturn></ns0:logonResponse>'))


def record(response, **fields):
    tag = "invoke" if response == "invoke" else "status"
    return ('<ns5:%sResponse><%sReturn xsi:type="ns1:clifstatus">%s</%sReturn></ns5:%sResponse>'
            % (tag, tag, vt.status_xml(**fields), tag, tag))


def record_reply(response, **fields):
    return http_response(vt.envelope(record(response, **fields)))


def closed_port_url():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return "https://127.0.0.1:%d/svc" % port


def fault_cases(call):
    """(name, behaviour, fault string pattern) for a failure at "logon", "invoke" or "status"."""
    response = "status" if call == "status" else "invoke"
    good = (record_reply(response, complete=True, returnCode=0, out=b"x", sessionId="s")
            if call != "logon" else logon_ok())
    fault = vt.envelope(vt.fault_body("SOAP-ENV:Server", "Session vanished"))
    wrong_reply = (record_reply("invoke", complete=True, sessionId="s") if call == "logon" else logon_ok())
    wrong_record = (http_response(vt.envelope(record(response, complete=True, sessionId="s").replace(
        'xsi:type="ns1:clifstatus"', 'xsi:type="xsd:string"'))))
    malformed = http_response('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="%s"><SOAP-ENV:Body>'
                              '<ns5:%sResponse></SOAP-ENV:Body>' % (vt.NS["SOAP-ENV"], response))
    cases = [
        ("HTTP 500 with a fault", reply(http_response(fault, 500)), re.escape("Session vanished")),
        ("HTTP 200 with a fault", reply(http_response(fault)), re.escape("Session vanished")),
        ("HTTP 500 without a fault", reply(http_response("<html>oops</html>", 500, content_type="text/html")),
         re.escape("Error 500: HTTP 500 Internal Server Error")),
        ("HTTP 404 without a fault", reply(http_response("<html>no</html>", 404, content_type="text/html")),
         re.escape("HTTP Error")),
        ("HTTP 404 with a fault", reply(http_response(fault, 404)), re.escape("HTTP Error")),
        # Found by fuzzing: the runtime asks for a buffer of the (huge, unsigned) length and fails
        # the call when it cannot have one.
        ("HTTP 500 with a large negative Content-Length", reply(http_response(fault, 500, length=-44)),
         re.escape("Session vanished")),
        ("truncated envelope", reply(good[:-60]), re.escape(EOF_TEXT) + ".+"),
        ("malformed envelope", reply(malformed), re.escape(EOF_TEXT) + ".+"),
        # Depending on how much of the reply arrived before the reset, the runtime names the end
        # of the input or the HTTP status it had already read.
        ("reset in the middle of the reply", reset_after(good[:len(good) // 2]),
         re.escape(EOF_TEXT) + ".+|Error 200: HTTP 200 OK"),
        ("closed without a reply", hang_up_while_receiving(False), re.escape(EOF_TEXT) + ".+"),
        ("reply of the wrong type", reply(wrong_reply),
         "Validation constraint violation: type mismatch .+"),
    ]
    if call != "logon":
        # Found by fuzzing the reply reader: an id given to the record and again to another
        # element. The call fails; the runtime's copy of the id must not corrupt anything.
        twice = ('<ns5:{0}Response><{0}Return href="#id0"/></ns5:{0}Response>'
                 '<multiRef id="id0" SOAP-ENC:root="0" xsi:type="ns1:clifstatus"><out href="#id1"/>'
                 '<complete>true</complete></multiRef><multiRef id="id0" xsi:type="xsd:base64Binary">aGk='
                 '</multiRef>'.format(response))
        cases.append(("multi-reference id used twice", reply(http_response(vt.envelope(twice))),
                      "Validation constraint violation: type mismatch .+"))
        # Two status records under one id: the runtime copies the id onto itself (soap_id_enter),
        # which the sanitizer build is told about (cmake/Sanitize.cmake); the call fails.
        same_twice = ('<ns5:{0}Response><{0}Return href="#id0"/></ns5:{0}Response>'
                      '<multiRef id="id0" SOAP-ENC:root="0" xsi:type="ns1:clifstatus"><complete>true</complete>'
                      '</multiRef><multiRef id="id0" SOAP-ENC:root="0" xsi:type="ns1:clifstatus">'
                      '<complete>false</complete></multiRef>'.format(response))
        cases.append(("two status records under one id", reply(http_response(vt.envelope(same_twice))),
                      "Validation constraint violation: .+ duplicate id #id0 .+"))
        cases.append(("status record of the wrong xsi:type", reply(wrong_record),
                      re.escape("Validation constraint violation: type mismatch xsd:string in element '%sReturn'"
                                % response)))
    return cases


class ClientTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="clif-fault-")
        cls.pem = vt.make_pki().server_pem
        cls.bindir = os.path.join(cls.work, "bin")
        os.makedirs(cls.bindir)
        cls.program = os.path.join(cls.bindir, "velnode")
        os.symlink(CLIFCLIENT, cls.program)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def configure(self, logon_url, invoke_url, extra_words=()):
        vt.write_client_config(self.bindir, logon_url, invoke_url, extra_words=extra_words)

    def run_client(self, server, logon_url=None, invoke_url=None, extra_words=(), **popen):
        self.configure(logon_url or server.url, invoke_url or server.url, extra_words)
        popen.setdefault("stdin", subprocess.DEVNULL)
        return vt.run([self.program, "--user", "admin", "--pass", "secret", "-l"], env=ENV, timeout=TIMEOUT,
                      **popen)

    def assertFailedCall(self, result, expected_stdout, fault_pattern, expected_stderr=b""):
        """stdout is the expected text, with a fault string matching fault_pattern in place of {}."""
        self.assertEqual(255, result.returncode, result)
        # The remote standard error already shown, then the cause of the failure, behind the command name.
        self.assertEqual(expected_stderr, result.stderr[:len(expected_stderr)])
        causes = result.stderr[len(expected_stderr):].splitlines()
        self.assertTrue(causes and all(line.startswith(b"velnode: ") for line in causes), result.stderr)
        if fault_pattern is None:
            self.assertEqual(expected_stdout, result.stdout)
            return
        before, _, after = expected_stdout.partition(b"{}")
        self.assertTrue(result.stdout.startswith(before) and result.stdout.endswith(after), result.stdout)
        fault = result.stdout[len(before):len(result.stdout) - len(after)].decode("latin-1")
        self.assertRegex(fault, r"\A(?:%s)\Z" % fault_pattern)
        self.assertNotIn("\n", fault)


class FailedCalls(ClientTestCase):
    """Each kind of failure at logon, at invoke and at the status calls."""

    STARTED = dict(complete=False, out=b"started\n", err=b"warning\n", pollPeriod=0, sessionId="s")

    def test_failed_logon_prints_the_connection_help(self):
        for name, behaviour, _ in fault_cases("logon"):
            with self.subTest(name), FaultServer(self.pem, [behaviour]) as server:
                self.assertFailedCall(self.run_client(server), CONNECTION_HELP, None)
        with self.subTest("connection refused"), FaultServer(self.pem, []) as server:
            self.assertFailedCall(self.run_client(server, logon_url=closed_port_url()), CONNECTION_HELP, None)

    def test_failed_invoke(self):
        for name, behaviour, pattern in fault_cases("invoke"):
            with self.subTest(name), FaultServer(self.pem, [reply(logon_ok()), behaviour]) as server:
                self.assertFailedCall(self.run_client(server), INVOKE_FAILED + b"{}\n", pattern)
        with self.subTest("connection refused"), FaultServer(self.pem, [refuse_after(logon_ok())]) as server:
            self.assertFailedCall(self.run_client(server), INVOKE_FAILED + b"{}\n", "Connection refused")

    def test_failed_status_call_while_input_is_open(self):
        # The first status call is made with the input still open, whatever it then reads.
        started = record_reply("invoke", **self.STARTED)
        expected = b"started\n" + PANIC_LINE + b"{}\n"
        for name, behaviour, pattern in fault_cases("status"):
            with self.subTest(name), FaultServer(self.pem, [reply(logon_ok()), reply(started), behaviour]) as server:
                self.assertFailedCall(self.run_client(server), expected, pattern, b"warning\n")
        with self.subTest("connection refused"), \
                FaultServer(self.pem, [reply(logon_ok()), refuse_after(started)]) as server:
            self.assertFailedCall(self.run_client(server), expected, "Connection refused", b"warning\n")

    def test_failed_status_call_after_input_has_closed(self):
        started = record_reply("invoke", **self.STARTED)
        more = record_reply("status", complete=False, out=b"more\n", err=b"again\n", pollPeriod=0, sessionId="s")
        expected = b"started\nmore\n" + PANIC_LINE
        for name, behaviour, _ in fault_cases("status"):
            with self.subTest(name), \
                    FaultServer(self.pem, [reply(logon_ok()), reply(started), reply(more), behaviour]) as server:
                self.assertFailedCall(self.run_client(server), expected, None, b"warning\nagain\n")
        with self.subTest("connection refused"), \
                FaultServer(self.pem, [reply(logon_ok()), reply(started), refuse_after(more)]) as server:
            self.assertFailedCall(self.run_client(server), expected, None, b"warning\nagain\n")


class DroppedWhileSending(ClientTestCase):
    """The server drops the connection while the client is still sending a large request
    (an environment map of several megabytes): a failed call, never a death by SIGPIPE."""

    BIG = ("LOCALE=" + "x" * (12 * 1024 * 1024),)

    def test_invoke_request(self):
        for reset in (False, True):
            with self.subTest(reset=reset), \
                    FaultServer(self.pem, [reply(logon_ok()), hang_up_while_receiving(reset)]) as server:
                result = self.run_client(server, extra_words=self.BIG)
                self.assertFailedCall(result, INVOKE_FAILED + b"{}\n", ".+")

    def test_status_request(self):
        started = record_reply("invoke", complete=False, out=b"started\n", pollPeriod=0, sessionId="s")
        for reset in (False, True):
            with self.subTest(reset=reset), FaultServer(
                    self.pem, [reply(logon_ok()), reply(started), hang_up_while_receiving(reset)]) as server:
                result = self.run_client(server, extra_words=self.BIG)
                self.assertFailedCall(result, b"started\n" + PANIC_LINE + b"{}\n", ".+")


class KeptConnections(ClientTestCase):
    """The connection is kept from call to call and the logon's goes on to the invocation. A server
    may close it at any point: while it is idle, the next call opens a new one; once a request has
    gone out, the call fails and nothing is sent twice. A reply that says "Connection: close",
    comes as HTTP/1.0 or is framed doubtfully leaves a connection that is never used again."""

    def logon(self):
        return kept(logon_ok())

    def started(self, pollPeriod=0):
        return kept(record_reply("invoke", complete=False, out=b"started\n", pollPeriod=pollPeriod, sessionId="s"))

    def more(self, pollPeriod=0):
        return kept(record_reply("status", complete=False, out=b"more\n", pollPeriod=pollPeriod, sessionId="s"))

    def done(self):
        return kept(record_reply("status", complete=True, returnCode=3, out=b"done\n", sessionId="s"))

    def operations(self, server):
        return [re.search(rb"<(?:ns\d:)?(logon|invoke|status)\b", r).group(1).decode() for r in server.requests]

    def assertCompleted(self, result, server, connections, expected_out=b"started\nmore\ndone\n"):
        self.assertEqual((3, expected_out, b""), (result.returncode, result.stdout, result.stderr), server.errors)
        self.assertEqual(connections, server.served)

    def test_one_connection_carries_logon_invoke_and_every_status_call(self):
        with FaultServer(self.pem, [in_turn(reply(self.logon()), reply(self.started()), reply(self.more()),
                                            reply(self.more()), reply(self.done()))]) as server:
            result = self.run_client(server)
        self.assertCompleted(result, server, 1, b"started\nmore\nmore\ndone\n")
        self.assertEqual(["logon", "invoke", "status", "status", "status"], self.operations(server))

    def test_connection_closed_while_idle_between_status_calls(self):
        # The client pauses a second after "more"; meanwhile the server closes (plain TCP close,
        # with a close_notify first, after an idle time-out, or with a reset).
        for name, closing in (("close", []), ("close_notify", [close_notify]), ("idle time-out", [idle(0.3)]),
                              ("reset", [lambda conn: conn.reset()])):
            with self.subTest(name), FaultServer(self.pem, [
                    in_turn(reply(self.logon()), reply(self.started()), reply(self.more(pollPeriod=1000)),
                            *closing),
                    in_turn(reply(self.done()))]) as server:
                result = self.run_client(server)
            self.assertCompleted(result, server, 2)
            self.assertEqual(["logon", "invoke", "status", "status"], self.operations(server))

    def test_connection_idle_for_long_is_not_used_again(self):
        # The server would keep it, but after a pause of two seconds the client opens a new one
        # rather than race the server's own idle close.
        received = []
        with FaultServer(self.pem, [
                in_turn(reply(self.logon()), reply(self.started()), reply(self.more(pollPeriod=2000)),
                        hold(received)),
                in_turn(reply(self.done()))]) as server:
            result = self.run_client(server)
        self.assertCompleted(result, server, 2)
        self.assertEqual([b""], received)

    def test_connection_closed_after_the_request_is_read(self):
        # The request may have reached the server: the call fails and is not sent again.
        with self.subTest("invoke"), FaultServer(self.pem, [in_turn(reply(self.logon()), read_and_close)]) as server:
            result = self.run_client(server)
            self.assertFailedCall(result, INVOKE_FAILED + b"{}\n", ".+")
            self.assertEqual((1, ["logon", "invoke"]), (server.served, self.operations(server)))
        with self.subTest("status with input"), FaultServer(self.pem, [
                in_turn(reply(self.logon()), reply(self.started()), read_and_close)]) as server:
            result = self.run_client(server, input=b"abc\n", stdin=None)
            self.assertFailedCall(result, b"started\n" + PANIC_LINE + b"{}\n", ".+")
            self.assertEqual((1, ["logon", "invoke", "status"]), (server.served, self.operations(server)))
            self.assertIn(b"<in3 xsi:type=\"xsd:base64Binary\">YWJjCg==</in3>", server.requests[2])

    def test_reply_that_ends_the_connection_is_never_followed_on_it(self):
        # The server keeps each of these connections open all the same; the client must not send
        # on it again. A doubtful reply may even hide a second one: it must not be taken.
        envelope = logon_ok().partition(b"\r\n\r\n")[2]
        smuggled = kept(record_reply("invoke", complete=True, returnCode=9, out=b"smuggled\n", sessionId="x"))
        cases = [
            ("Connection: close", logon_ok()),
            ("HTTP/1.0", http_response(envelope, version="HTTP/1.0", connection=None)),
            ("no Content-Length", b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n" + envelope),
            ("Content-Length too large", http_response(envelope, length=len(envelope) + 8, connection=None)),
            ("Content-Length too small", http_response(envelope, length=len(envelope) - 8, connection=None)),
            ("bytes after the body", kept(logon_ok()) + smuggled),
        ]
        for name, first in cases:
            received = []
            with self.subTest(name), FaultServer(self.pem, [
                    in_turn(reply(first), hold(received)),
                    in_turn(reply(self.started()), reply(self.more()), reply(self.done()))]) as server:
                result = self.run_client(server)
                self.assertCompleted(result, server, 2)
                self.assertEqual([b""], received)

    def test_services_on_different_servers_each_keep_their_own(self):
        received = []
        with FaultServer(self.pem, [in_turn(reply(self.logon()), hold(received))]) as logon_server, \
                FaultServer(self.pem, [in_turn(reply(self.started()), reply(self.more()),
                                               reply(self.done()))]) as server:
            result = self.run_client(server, logon_url=logon_server.url)
            self.assertCompleted(result, server, 1)
        self.assertEqual([b""], received)
class ReplyMemory(ClientTestCase):
    """What a reply may cost: blanks between elements are not kept, compressed replies (which the
    client never asks for) are refused, and an element may not carry attributes without end."""

    STARTED = dict(complete=False, pollPeriod=0, sessionId="s")

    def run_measured(self, server):
        """The client's exit status, output and error (the first 4 KiB of each) and its peak resident
        size in KiB."""
        self.configure(server.url, server.url)
        read_end, write_end = os.pipe()
        client = subprocess.Popen([sys.executable, "-c", MEASURED, str(write_end), self.program, "--user", "admin",
                                   "--pass", "secret"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, pass_fds=(write_end,))
        os.close(write_end)
        kept = [bytearray(), bytearray()]

        def keep_first_mib(stream, into):
            for block in iter(lambda: stream.read(65536), b""):
                into += block[:max(0, 4096 - len(into))]
        readers = [threading.Thread(target=keep_first_mib, args=(stream, into))
                   for stream, into in zip((client.stdout, client.stderr), kept)]
        for reader in readers:
            reader.start()
        try:
            client.wait(timeout=TIMEOUT)
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()
            for reader in readers:
                reader.join(TIMEOUT)
            client.stdout.close()
            client.stderr.close()
            with os.fdopen(read_end, "rb") as report:
                peak = int(report.read() or b"0")
        return subprocess.CompletedProcess(client.args, client.returncode, bytes(kept[0]), bytes(kept[1])), peak

    def final_reply(self, record_fields):
        return vt.envelope(record("status", **record_fields))

    def test_blanks_between_elements_are_not_kept(self):
        # 96 MiB of blanks before the Body and again before the record's first child, as one body
        # and in chunks of 1000 bytes (several to a read, so the chunk headers move).
        text = self.final_reply(dict(complete=True, returnCode=0, out=b"done\n", sessionId="s"))
        before_body, _, rest = text.partition("<SOAP-ENV:Body")
        marker = '<statusReturn xsi:type="ns1:clifstatus">'
        before_record, _, after = rest.partition(marker)
        parts = [before_body.encode(), ("<SOAP-ENV:Body" + before_record + marker).encode(), after.encode()]
        blanks = 96 * MIB
        chunk = b" " * 1000
        chunked_piece = b"".join(b"3e8\r\n" + chunk + b"\r\n" for _ in range(MIB // 1000))

        def plain():
            yield parts[0]
            for part in parts[1:]:
                for _ in range(blanks // MIB):
                    yield b" " * MIB
                yield part

        def chunked():
            def chunk_of(data):
                return b"%x\r\n%s\r\n" % (len(data), data)
            yield chunk_of(parts[0])
            for part in parts[1:]:
                for _ in range(blanks // len(chunked_piece) + 1):
                    yield chunked_piece
                yield chunk_of(part)
            yield b"0\r\n\r\n"

        length = sum(len(p) for p in parts) + 2 * blanks
        heads = {"one body": b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n"
                             b"Connection: close\r\n\r\n" % length,
                 "chunks": b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n"
                           b"Connection: close\r\n\r\n"}
        for name, pieces in (("one body", plain), ("chunks", chunked)):
            with self.subTest(name), FaultServer(self.pem, [
                    reply(logon_ok()), reply(record_reply("invoke", **self.STARTED)),
                    reply_streamed(heads[name], pieces())]) as server:
                result, peak = self.run_measured(server)
                self.assertEqual((0, b"done\n", b""), (result.returncode, result.stdout, result.stderr), server.errors)
                self.assertLess(peak, RSS_LIMIT_KB, "peak resident size %d KiB" % peak)

    def test_compressed_reply_is_refused(self):
        # A gzip reply of 256 MiB of blanks, one whose record inflates to 768 MiB of output (a
        # megabyte or so on the wire), and the same as deflate, without a header.
        text = self.final_reply(dict(complete=True, returnCode=0, out=b"@", sessionId="s"))
        before_out, _, after_out = text.partition(vt.b64(b"@"))
        before_body, _, rest = text.partition("<SOAP-ENV:Body")

        def compressed(wbits, pieces):
            packer = zlib.compressobj(9, zlib.DEFLATED, wbits)
            data = [packer.compress(piece) for piece in pieces] + [packer.flush()]
            return b"".join(data)

        def blanks():
            yield before_body.encode()
            for _ in range(256):
                yield b" " * MIB
            yield ("<SOAP-ENV:Body" + rest).encode()

        def bomb():
            yield before_out.encode()
            for _ in range(1024):  # 1 GiB of Base64 text: 768 MiB of output
                yield b"A" * MIB
            yield after_out.encode()

        for name, encoding, body in (("gzip of blanks", b"gzip", compressed(31, blanks())),
                                     ("gzip to 768 MiB of output", b"gzip", compressed(31, bomb())),
                                     ("deflate to 768 MiB of output", b"deflate", compressed(15, bomb())),
                                     ("gzip without HTTP", None, compressed(31, bomb()))):
            head = (b"" if encoding is None else
                    b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Encoding: %s\r\nContent-Length: %d\r\n"
                    b"Connection: close\r\n\r\n" % (encoding, len(body)))
            with self.subTest(name), FaultServer(self.pem, [
                    reply(logon_ok()), reply(record_reply("invoke", **self.STARTED)),
                    reply_streamed(head, [body])]) as server:
                result, peak = self.run_measured(server)
                self.assertLess(peak, RSS_LIMIT_KB, "peak resident size %d KiB" % peak)
                self.assertFailedCall(result, PANIC_LINE + b"Compressed reply refused\n", None)

    def test_element_with_too_many_attributes_is_refused(self):
        def with_attributes(count):
            fields = record("status", complete=True, returnCode=0, out=b"done\n", sessionId="s")
            extra = "".join(' a%d=""' % i for i in range(count))
            return http_response(vt.envelope(fields.replace('xsi:type="ns1:clifstatus"',
                                                            'xsi:type="ns1:clifstatus"' + extra)))
        started = record_reply("invoke", **self.STARTED)
        # 56 and xsi:type: within the bound of 64.
        with self.subTest("57 attributes"), FaultServer(
                self.pem, [reply(logon_ok()), reply(started), reply(with_attributes(56))]) as server:
            result = self.run_client(server)
            self.assertEqual((0, b"done\n", b""), (result.returncode, result.stdout, result.stderr))
        with self.subTest("100 001 attributes"), FaultServer(
                self.pem, [reply(logon_ok()), reply(started), reply(with_attributes(100000))]) as server:
            result = self.run_client(server)
            self.assertFailedCall(result, PANIC_LINE + b"Reply refused\n", None)


def tcp_options_of(pid):
    """(SO_KEEPALIVE, TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT, TCP_USER_TIMEOUT, TCP_NODELAY) of each socket of a
    running process, read from a copy of its descriptor (pidfd_getfd)."""
    libc = ctypes.CDLL(None, use_errno=True)
    pidfd = os.pidfd_open(pid)
    found = []
    try:
        for name in os.listdir("/proc/%d/fd" % pid):
            try:
                if not os.readlink("/proc/%d/fd/%s" % (pid, name)).startswith("socket:"):
                    continue
            except OSError:
                continue
            fd = libc.syscall(438, pidfd, int(name), 0)  # pidfd_getfd
            if fd < 0:
                raise OSError(ctypes.get_errno(), "pidfd_getfd")
            with socket.socket(fileno=fd) as sock:
                found.append((sock.getsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE),
                              sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE),
                              sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL),
                              sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPCNT),
                              sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_USER_TIMEOUT),
                              sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY)))
    finally:
        os.close(pidfd)
    return found


class DeadPeer(ClientTestCase):
    """A CMS that vanishes mid-call (powered off, cut off by a firewall) ends the call within minutes:
    every connection probes an idle peer after 60 s, 8 times 15 s apart, and gives up on data left
    unacknowledged for as long. A live server that is slow to answer is still waited for; one that
    keeps the connection open after its reply is not."""

    def test_long_reply_is_read_whole_while_the_server_keeps_the_connection_open(self):
        # No read may wait for bytes that the parser does not need once the reply is all sent.
        for size in (3 << 20, (3 << 20) + 70000):
            with self.subTest(size=size):
                out = os.urandom(size)
                held = []
                started = record_reply("invoke", complete=False, pollPeriod=0, sessionId="s")
                done = record_reply("status", complete=True, returnCode=0, out=out, sessionId="s")
                with FaultServer(self.pem, [reply_and_hold(logon_ok(), held), reply_and_hold(started, held),
                                            reply_and_hold(done, held)]) as server:
                    result = self.run_client(server)
                self.assertEqual((0, b""), (result.returncode, result.stderr), server.errors)
                self.assertTrue(result.stdout == out, "%d of %d bytes" % (len(result.stdout), size))
                self.assertEqual([False] * 3, held, "the client waited for the server to close")

    def test_content_length_beyond_the_body_is_not_waited_for(self):
        # The envelope is complete: the client ends at once, whatever the length promised and
        # although the server keeps the connection open (the wait would last until it closes).
        started = record_reply("invoke", complete=False, pollPeriod=0, sessionId="s")
        for size in (100000, 1 << 20, (3 << 20) + 70000):
            out = os.urandom(size)
            body = vt.envelope(record("status", complete=True, returnCode=0, out=out, sessionId="s")).encode()
            for name, length in (("256 KiB too long", len(body) + (256 << 10)), ("1 MiB too long", len(body) + (1 << 20)),
                                 ("-1", -1), ("2^64-1", (1 << 64) - 1)):
                with self.subTest(size=size, length=name):
                    held = []
                    with FaultServer(self.pem, [reply(logon_ok()), reply(started),
                                                reply_and_hold(http_response(body, length=length), held)]) as server:
                        result = self.run_client(server)
                    self.assertEqual((0, b""), (result.returncode, result.stderr), server.errors)
                    self.assertTrue(result.stdout == out, "%d of %d bytes" % (len(result.stdout), size))
                    self.assertEqual([False], held, "the client waited for the server to close")

    def test_every_connection_has_tcp_keep_alive(self):
        seen = []
        launched = threading.Event()
        client = []

        def look_then(raw):
            def behave(conn):
                conn.read_request()
                launched.wait(TIMEOUT)
                seen.append(tcp_options_of(client[0].pid))
                conn.send(raw)
            return behave

        started = record_reply("invoke", complete=False, pollPeriod=0, sessionId="s")
        done = record_reply("status", complete=True, returnCode=0, out=b"done\n", sessionId="s")
        with FaultServer(self.pem, [look_then(logon_ok()), look_then(started), look_then(done)]) as server:
            self.configure(server.url, server.url)
            client.append(subprocess.Popen([self.program, "--user", "admin", "--pass", "secret"], env=ENV,
                                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE))
            launched.set()
            try:
                out, err = client[0].communicate(timeout=TIMEOUT)
            finally:
                if client[0].poll() is None:
                    client[0].kill()
                    client[0].communicate()
        self.assertEqual((0, b"done\n", b""), (client[0].returncode, out, err), server.errors)
        # TCP_NODELAY: a request written in two pieces never waits for the server's delayed ACK.
        self.assertEqual([[(1, 60, 15, 8, 180000, 1)]] * 3, seen)


class ServerName(ClientTestCase):
    """TLS allows only host names as the server name (SNI): an endpoint given by its address sends none."""

    def test_address_literal_sends_no_server_name(self):
        started = record_reply("invoke", complete=False, pollPeriod=0, sessionId="s")
        done = record_reply("status", complete=True, returnCode=0, out=b"done\n", sessionId="s")
        with FaultServer(self.pem, [reply(logon_ok()), reply(started), reply(done)]) as server:
            result = self.run_client(server)
        self.assertEqual((0, b"done\n", b""), (result.returncode, result.stdout, result.stderr), server.errors)
        self.assertEqual([None] * 3, server.server_names)


class LocalDescriptors(ClientTestCase):
    """Closed standard descriptors at start, and a reader of the output that goes away."""

    def endless_output(self):
        started = record_reply("invoke", complete=False, out=b"first\n", pollPeriod=0, sessionId="s")
        more = record_reply("status", complete=False, out=b"more\n", pollPeriod=0, sessionId="s")
        return [reply(logon_ok()), reply(started)] + [reply(more) for _ in range(400)]

    def test_closed_output_reader_ends_the_client_like_cat(self):
        with FaultServer(self.pem, self.endless_output()) as server:
            self.configure(server.url, server.url)
            client = subprocess.Popen([self.program, "--user", "admin", "--pass", "secret"], env=ENV,
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                self.assertEqual(b"f", client.stdout.read(1))
                client.stdout.close()  # as "head -c1" does
                status = client.wait(timeout=TIMEOUT)
                calls = server.served
                time.sleep(0.5)
                self.assertEqual(calls, server.served, "no status call after the end")
                stderr = client.stderr.read()
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()
                client.stderr.close()
        self.assertEqual(-signal.SIGPIPE, status)
        self.assertEqual(b"", stderr)

    def test_non_blocking_output_loses_nothing(self):
        # The caller leaves both pipes non-blocking (the flag is shared with the client) and reads
        # them slowly: each write that finds a pipe full waits, every byte arrives.
        out, err = os.urandom(2100000), os.urandom(2100000)
        started = record_reply("invoke", complete=False, out=b"first\n", err=b"warn\n", pollPeriod=0, sessionId="s")
        done = record_reply("status", complete=True, returnCode=0, out=out, err=err, sessionId="s")
        with FaultServer(self.pem, [reply(logon_ok()), reply(started), reply(done)]) as server:
            self.configure(server.url, server.url)
            pipes = [os.pipe(), os.pipe()]
            for _, write_end in pipes:
                os.set_blocking(write_end, False)
            received = [bytearray(), bytearray()]

            def read_slowly(fd, into):
                time.sleep(0.5)
                while True:
                    block = os.read(fd, 4096)
                    if not block:
                        break
                    into += block
                    time.sleep(0.0005)
            readers = [threading.Thread(target=read_slowly, args=(read_end, into))
                       for (read_end, _), into in zip(pipes, received)]
            for reader in readers:
                reader.start()
            try:
                client = subprocess.Popen([self.program, "--user", "admin", "--pass", "secret"], env=ENV,
                                          stdin=subprocess.DEVNULL, stdout=pipes[0][1], stderr=pipes[1][1])
            finally:
                for _, write_end in pipes:
                    os.close(write_end)
            try:
                status = client.wait(timeout=TIMEOUT)
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()
                for reader in readers:
                    reader.join(TIMEOUT)
                for read_end, _ in pipes:
                    os.close(read_end)
        self.assertEqual(0, status, server.errors)
        self.assertTrue(bytes(received[0]) == b"first\n" + out, "%d bytes of output" % len(received[0]))
        self.assertTrue(bytes(received[1]) == b"warn\n" + err, "%d bytes of error output" % len(received[1]))

    def descriptor_targets(self, pid):
        return [os.readlink("/proc/%d/fd/%d" % (pid, fd)) for fd in (0, 1, 2)]

    def test_closed_standard_descriptors_are_never_sockets(self):
        started = record_reply("invoke", complete=False, out=b"out\n", err=b"err\n", pollPeriod=0, sessionId="s")
        done = record_reply("status", complete=True, returnCode=3, out=b"end\n", sessionId="s")
        for closed in ((0,), (1,), (2,), (0, 1, 2)):
            with self.subTest(closed=closed), \
                    FaultServer(self.pem, [reply(logon_ok()), reply(started), reply(done)]) as server:
                self.configure(server.url, server.url)
                seen = []
                launched = threading.Event()
                client = None

                def close_them(fds=closed):
                    for fd in fds:
                        os.close(fd)

                def look_at_descriptors():
                    # The client may connect before Popen has returned here.
                    launched.wait(TIMEOUT)
                    seen.append(self.descriptor_targets(client.pid))

                # While a call is open, the client's descriptors 0 to 2 are all /dev/null or
                # what the test gave it; its socket lies elsewhere.
                server.on_connect = look_at_descriptors
                client = subprocess.Popen([self.program, "--user", "admin", "--pass", "secret"], env=ENV,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE, preexec_fn=close_them)
                launched.set()
                try:
                    out, err = client.communicate(timeout=TIMEOUT)
                finally:
                    if client.poll() is None:
                        client.kill()
                        client.communicate()
                self.assertEqual(3, client.returncode, (out, err, server.errors))
                self.assertEqual(b"" if 1 in closed else b"out\nend\n", out)
                self.assertEqual(b"" if 2 in closed else b"err\n", err)
                self.assertEqual(3, len(seen))
                for targets in seen:
                    for fd in closed:
                        self.assertEqual("/dev/null", targets[fd])
                    self.assertFalse(any(t.startswith("socket:") for t in targets), targets)
                # What the client read from its standard input: nothing, and the input closed.
                status_request = server.requests[2]
                self.assertIn(b"<in4>false</in4>", status_request)


if __name__ == "__main__":
    CLIFCLIENT = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
