"""Black-box tests of the SOAP clients (logon and invocation) against the
stand-in CMS over TLS: request shapes on the wire, reply reading, TLS trust,
logon on the CMS itself, calls without a service URL, and the stand-in's kept
connections.

usage: test_soap_clients.py CLIFSOAPDRIVER VELCMS [unittest options]
"""

import gzip
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vel_testsupport import (NS, StandInCms, b64, envelope, fault_body, make_command, make_pki, run,
                             status_xml, write_client_config)
from clif_texts import EMPTY_INSTALL_PATH, LOGON_SETUP_FAILED

DRIVER = None
VELCMS = None
XSI_TYPE = "{%s}type" % NS["xsi"]
XSI_NIL = "{%s}nil" % NS["xsi"]
ARRAY_TYPE = "{%s}arrayType" % NS["SOAP-ENC"]


def parse_output(stdout):
    """Splits the driver's output into JSON records and other lines."""
    records, lines = [], []
    for line in stdout.decode("latin-1").splitlines():
        if line.startswith("{"):
            records.append(json.loads(line))
        else:
            lines.append(line)
    return records, lines


def call_element(request):
    body = request.root().find("{%s}Body" % NS["SOAP-ENV"])
    return list(body)[0]


def invoke_reply(inner):
    return envelope("<ns5:invokeResponse>%s</ns5:invokeResponse>" % inner)


def status_reply(inner):
    return envelope("<ns5:statusResponse>%s</ns5:statusResponse>" % inner)


class CmsTestCase(unittest.TestCase):
    """Each test gets its own directory and, through start_cms, its own stand-in."""

    def setUp(self):
        self.pki = make_pki()
        self.dir = tempfile.mkdtemp(prefix="vel-soap-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start_cms(self, tls_pem=None, **kwargs):
        cms = StandInCms(VELCMS, self.dir, tls_pem=tls_pem or self.pki.server_pem, **kwargs)
        cms.start()
        self.addCleanup(cms.stop)
        self.config = write_client_config(os.path.join(self.dir, "cfg"), cms.logon_url, cms.invoke_url)
        return cms

    def driver(self, *args, env=None, stdin=subprocess.DEVNULL, timeout=60):
        return run([DRIVER, self.config] + list(args), env=env, stdin=stdin, timeout=timeout)

    def records(self, *args, **kwargs):
        result = self.driver(*args, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr)
        return parse_output(result.stdout)[0]


class RequestShapes(CmsTestCase):
    """What the clients put on the wire."""

    def setUp(self):
        super().setUp()
        self.cms = self.start_cms()
        make_command(self.cms.commands_dir, "echoer", 'cat; echo done\n')

    def test_logon_request(self):
        records = self.records("logon", self.cms.logon_url, "admin", "secret")
        self.assertTrue(records[0]["token"])
        request = self.cms.requests()[0]
        self.assertEqual(request.raw_soap_action, '""')
        self.assertEqual(request.request_line, "POST /velsoap/services/VelpiMain5_0 HTTP/1.1")
        self.assertEqual(request.headers["connection"], "keep-alive")  # the connection is kept for the next call
        self.assertNotIn("accept-encoding", request.headers)  # no compressed reply is asked for
        text = request.body.decode("latin-1")
        declarations = " ".join('xmlns:%s="%s"' % (p, u) for p, u in NS.items())
        self.assertIn("<SOAP-ENV:Envelope %s>" % declarations, text)
        self.assertNotIn("SOAP-ENV:Header", text)
        self.assertIn('SOAP-ENV:encodingStyle="%s"' % NS["SOAP-ENC"], text)
        call = call_element(request)
        self.assertEqual(call.tag, "{%s}logon" % NS["ns0"])
        self.assertEqual([(c.tag, c.get(XSI_TYPE), c.text) for c in call],
                         [("username", "xsd:string", "admin"), ("password", "xsd:string", "secret")])

    def test_invoke_sends_the_map_in_key_order_and_the_command_line(self):
        self.records("calls", self.cms.invoke_url, "tok", "admin", "--env", "B=2", "--env", "A=1",
                     "--", "echoer", "-l", "x y")
        request = self.cms.requests()[0]
        self.assertEqual(request.raw_soap_action, '"clifservice"')
        call = call_element(request)
        self.assertEqual(call.tag, "{%s}invoke" % NS["ns5"])
        self.assertEqual([c.tag for c in call], ["in0", "in1", "in2", "in3"])
        self.assertEqual([call[0].text, call[1].text], ["tok", "admin"])
        env_map = call[2]
        self.assertEqual(env_map.get(XSI_TYPE), "ns3:Map")
        items = [(i.get(XSI_TYPE), [(c.tag, c.get(XSI_TYPE), c.text) for c in i]) for i in env_map]
        self.assertEqual(items, [
            ("ns3:mapItem", [("key", "xsd:string", "A"), ("value", "xsd:string", "1")]),
            ("ns3:mapItem", [("key", "xsd:string", "B"), ("value", "xsd:string", "2")])])
        array = call[3]
        self.assertEqual(array.get(XSI_TYPE), "SOAP-ENC:Array")
        self.assertEqual(array.get(ARRAY_TYPE), "xsd:string[3]")
        self.assertEqual([(c.tag, c.get(XSI_TYPE), c.text) for c in array],
                         [("item", "xsd:string", "echoer"), ("item", "xsd:string", "-l"),
                          ("item", "xsd:string", "x y")])

    def test_empty_map_and_bare_command(self):
        self.records("calls", self.cms.invoke_url, "tok", "admin", "--", "echoer")
        call = call_element(self.cms.requests()[0])
        self.assertEqual(call[2].get(XSI_TYPE), "ns3:Map")
        self.assertEqual(len(call[2]), 0)
        self.assertEqual(call[3].get(ARRAY_TYPE), "xsd:string[1]")
        self.assertEqual([c.text for c in call[3]], ["echoer"])

    def test_empty_command_line_is_an_empty_array_not_nil(self):
        records = self.records("calls", self.cms.invoke_url, "tok", "admin", "--")
        self.assertIn("fault", records[0])  # the server wants a command
        array = call_element(self.cms.requests()[0])[3]
        self.assertEqual(array.get(ARRAY_TYPE), "xsd:string[0]")
        self.assertIsNone(array.get(XSI_NIL))
        self.assertEqual(len(array), 0)

    def test_status_carries_input_then_an_empty_element_and_the_open_flag(self):
        token = self.records("logon", self.cms.logon_url, "admin", "secret")[0]["token"]
        self.records("calls", self.cms.invoke_url, token, "admin", "--env", "K=V", "--status", "2",
                     "--input-hex", "00ff41", "--", "echoer")
        invoke, first, second = self.cms.requests()[1:4]
        for request in (first, second):
            self.assertEqual(request.raw_soap_action, '"clifservice"')
            call = call_element(request)
            self.assertEqual(call.tag, "{%s}status" % NS["ns5"])
            self.assertEqual([c.tag for c in call], ["in0", "in1", "in2", "in3", "in4"])
            self.assertEqual(call[1].text, "session-1")
            self.assertEqual([c[0].text for c in call[2]], ["K"])
            self.assertEqual(call[3].get(XSI_TYPE), "xsd:base64Binary")
            self.assertIsNone(call[3].get(XSI_NIL))
            self.assertEqual(call[4].text, "true")
            self.assertIsNone(call[4].get(XSI_TYPE))
        self.assertEqual(call_element(first)[3].text, b64(b"\x00\xffA"))
        self.assertIn(b'<in3 xsi:type="xsd:base64Binary"></in3>', second.body)

    def test_closed_input_sends_false(self):
        self.records("calls", self.cms.invoke_url, "tok", "admin", "--status", "1", "--closed", "--", "echoer")
        self.assertEqual(call_element(self.cms.requests()[1])[4].text, "false")

    def test_string_bytes_are_sent_as_iso_8859_1_characters(self):
        self.records("calls", self.cms.invoke_url, "tok", "admin", "--env", b"NAME=caf\xe9\xff", "--", "echoer")
        value = call_element(self.cms.requests()[0])[2][0][1]
        self.assertEqual(value.text, "caf\u00e9\u00ff")


class ReplyReading(CmsTestCase):
    """How the invocation client reads what the service answers."""

    def setUp(self):
        super().setUp()
        self.cms = self.start_cms()

    def invoke_with(self, reply, status=200, statuses=()):
        self.cms.script_reply(1, reply, status)
        for number, body in enumerate(statuses, start=2):
            self.cms.script_reply(number, body)
        records = self.records("calls", self.cms.invoke_url, "tok", "admin", "--status", str(len(statuses)),
                               "--", "velnode")
        return [r for r in records if r["call"] != "check"], [r for r in records if r["call"] == "check"]

    def test_inline_record_with_every_byte_value_and_a_64_bit_poll_period(self):
        fields = status_xml(complete=False, err=bytes(range(255, -1, -1)), errOpen=True, out=bytes(range(256)),
                            outOpen=True, pollPeriod=2 ** 32 + 1000, returnCode=7, sessionId="s-1")
        results, _ = self.invoke_with(invoke_reply('<invokeReturn xsi:type="ns1:clifstatus">%s</invokeReturn>'
                                                   % fields))
        self.assertEqual(results[0], {"call": "invoke", "sessionId": "s-1", "complete": False, "pollPeriod": 1000,
                                      "returnCode": 7, "outOpen": True, "errOpen": True,
                                      "out": bytes(range(256)).hex(), "err": bytes(range(255, -1, -1)).hex()})

    def test_multi_referenced_record(self):
        reply = invoke_reply('<invokeReturn href="#id0"/>').replace(
            "</SOAP-ENV:Body>", '<multiRef id="id0" SOAP-ENC:root="0" xsi:type="ns1:clifstatus">%s</multiRef>'
            "</SOAP-ENV:Body>" % status_xml(complete=True, out=b"hi", returnCode=3, sessionId="s-2"))
        results, _ = self.invoke_with(reply)
        self.assertEqual((results[0]["sessionId"], results[0]["complete"], results[0]["returnCode"],
                          results[0]["out"]), ("s-2", True, 3, b"hi".hex()))

    def test_compressed_reply_is_refused(self):
        # The client asks for no compression; a compressed reply (which could inflate to any size)
        # fails the call with a fault that says so.
        reply = invoke_reply('<invokeReturn xsi:type="ns1:clifstatus">%s</invokeReturn>' % status_xml(
            complete=True, out=b"packed", returnCode=4, sessionId="s-z")).encode()
        for number, (encoding, body) in enumerate((("gzip", gzip.compress(reply)), ("deflate", zlib.compress(reply))),
                                                  start=1):
            with self.subTest(encoding):
                self.cms.script_raw(number, b"HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n"
                                            b"Content-Encoding: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                                            % (encoding.encode(), len(body)) + body)
                records = self.records("calls", self.cms.invoke_url, "tok", "admin", "--status", "0", "--", "velnode")
                self.assertEqual(records[0]["fault"]["string"], "Compressed reply refused")
                self.assertNotIn("accept-encoding", self.cms.requests()[number - 1].headers)

    def test_children_in_another_order_and_unknown_ones(self):
        reply = invoke_reply('<invokeReturn xsi:type="ns1:clifstatus"><note xsi:type="xsd:string">x</note>%s'
                             '<extra><deep>1</deep></extra></invokeReturn>'
                             % status_xml(sessionId="s-3", returnCode=4, complete=True, out=b"o", pollPeriod=9))
        results, _ = self.invoke_with(reply)
        self.assertEqual((results[0]["sessionId"], results[0]["returnCode"], results[0]["complete"],
                          results[0]["out"], results[0]["pollPeriod"]), ("s-3", 4, True, "6f", 9))

    def test_nil_or_absent_session_id_gives_an_empty_string(self):
        for fields in (status_xml(sessionId=None, pollPeriod=3, out=b"a"), status_xml(pollPeriod=3, out=b"a")):
            with self.subTest(fields=fields):
                shutil.rmtree(self.cms.record_dir)
                os.makedirs(self.cms.record_dir)
                self.cms.stop()
                self.cms.start()
                results, _ = self.invoke_with(invoke_reply("<invokeReturn>%s</invokeReturn>" % fields))
                self.assertNotIn("fault", results[0])
                self.assertEqual((results[0]["sessionId"], results[0]["pollPeriod"], results[0]["out"]),
                                 ("", 3, "61"))

    def test_return_child_under_another_name_and_without_type(self):
        results, _ = self.invoke_with(invoke_reply("<result>%s</result>" % status_xml(sessionId="s-4")))
        self.assertEqual(results[0]["sessionId"], "s-4")

    def test_missing_or_nil_record_is_no_fault(self):
        for inner in ("", '<invokeReturn xsi:nil="true"/>'):
            with self.subTest(inner=inner):
                self.cms.stop()
                self.cms.start()
                results, _ = self.invoke_with(invoke_reply(inner))
                self.assertEqual((results[0].get("fault"), results[0]["sessionId"], results[0]["out"]),
                                 (None, "", ""))

    def test_empty_output_gives_zero_lengths(self):
        fields = '<out xsi:type="xsd:base64Binary"></out><err xsi:nil="true"/><sessionId>e</sessionId>'
        results, _ = self.invoke_with(invoke_reply("<invokeReturn>%s</invokeReturn>" % fields))
        self.assertEqual((results[0]["out"], results[0]["err"]), ("", ""))

    def test_other_byte_array_type_names(self):
        fields = ('<out xsi:type="SOAP-ENC:base64">aGk=</out><err xsi:type="SOAP-ENC:base64Binary">aGk=</err>'
                  '<complete xsi:type="xsd:string">true</complete><sessionId>x</sessionId>')
        results, _ = self.invoke_with(invoke_reply("<invokeReturn>%s</invokeReturn>" % fields))
        self.assertEqual((results[0]["out"], results[0]["err"], results[0]["complete"]), ("6869", "6869", True))

    def test_wrong_xsi_types_fail_the_call(self):
        cases = ['<invokeReturn><sessionId xsi:type="xsd:int">1</sessionId></invokeReturn>',
                 '<invokeReturn><sessionId xsi:type="SOAP-ENC:int">1</sessionId></invokeReturn>',
                 '<invokeReturn><out xsi:type="xsd:string">aGk=</out></invokeReturn>',
                 '<invokeReturn xsi:type="xsd:string"><sessionId>x</sessionId></invokeReturn>']
        for inner in cases:
            with self.subTest(inner=inner):
                self.cms.stop()
                self.cms.start()
                results, _ = self.invoke_with(invoke_reply(inner))
                self.assertEqual(results[0]["fault"]["code"], "SOAP-ENV:Client")
                self.assertIn("type mismatch", results[0]["fault"]["string"])
        self.cms.stop()
        self.cms.start()
        reply = envelope('<ns5:invokeResponse xsi:type="ns5:other"><r><sessionId>x</sessionId></r>'
                         '</ns5:invokeResponse>')
        results, _ = self.invoke_with(reply)
        self.assertIn("type mismatch", results[0]["fault"]["string"])

    def test_fault_reaches_the_error_record(self):
        reply = envelope(fault_body("SOAP-ENV:Server", "Command failed", "<reason>disk full</reason>"))
        results, _ = self.invoke_with(reply, status=500)
        self.assertEqual(results[0]["fault"], {"code": "SOAP-ENV:Server", "string": "Command failed",
                                               "detail": "<reason>disk full</reason>"})

    def test_reply_bytes_stay_valid_until_the_next_call_has_returned(self):
        first = invoke_reply("<invokeReturn>%s</invokeReturn>" % status_xml(sessionId="s", out=b"first"))
        statuses = [status_reply("<statusReturn>%s</statusReturn>" % status_xml(sessionId="s", out=text))
                    for text in (b"second", b"third")]
        results, checks = self.invoke_with(first, statuses=statuses)
        self.assertEqual([r["out"] for r in results], [b"first".hex(), b"second".hex(), b"third".hex()])
        self.assertEqual(checks, [{"call": "check", "previousBytesIntact": True}] * 2)


class CommandRuns(CmsTestCase):
    """Whole runs through the stand-in: logon, invoke, status until complete."""

    def setUp(self):
        super().setUp()
        self.cms = self.start_cms(poll_ms=10)
        self.env_file = os.path.join(self.dir, "env.txt")
        make_command(self.cms.commands_dir, "echoer",
                     'echo "args:$*"; echo to-stderr >&2; cat; env | sort > "%s"; exit 3\n' % self.env_file)

    def test_input_output_and_return_code(self):
        data = bytes(range(256)) * 64
        result = run([DRIVER, self.config, "run", self.cms.logon_url, self.cms.invoke_url, "admin", "secret",
                      "--", "echoer", "a b", "c"], input=data, timeout=60)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertEqual(result.stdout, b"args:a b c\n" + data)
        self.assertEqual(result.stderr, b"to-stderr\n")

    def test_environment_is_forwarded_without_server_controlled_variables(self):
        result = self.driver("run", self.cms.logon_url, self.cms.invoke_url, "admin", "secret",
                             "--env", "LANG=C", "--env", "DISPLAY=:7", "--env", "PATH=/tmp/evil",
                             "--env", "LD_PRELOAD=/tmp/evil.so", "--env", "VEL_BASE_DIR=/tmp/evil",
                             "--", "echoer")
        self.assertEqual(result.returncode, 3, result.stderr)
        with open(self.env_file) as f:
            env = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual((env.get("LANG"), env.get("DISPLAY")), ("C", ":7"))
        self.assertNotIn("LD_PRELOAD", env)
        self.assertNotIn("VEL_BASE_DIR", env)
        self.assertNotEqual(env.get("PATH"), "/tmp/evil")

    def test_wrong_password_and_unknown_command_fail(self):
        records = self.records("logon", self.cms.logon_url, "admin", "wrong")
        self.assertEqual(records[0]["token"], "")
        self.assertEqual(records[0]["fault"]["code"], "SOAP-ENV:Client")
        result = self.driver("run", self.cms.logon_url, self.cms.invoke_url, "admin", "secret", "--", "nosuch")
        self.assertEqual(result.returncode, 255)
        self.assertIn(b"Unknown command: nosuch", result.stderr)

    def test_concurrent_sessions(self):
        make_command(self.cms.commands_dir, "slow", 'sleep 0.3; echo "$1"; sleep 0.3; echo "$1" >&2\n')
        runs = [subprocess.Popen([DRIVER, self.config, "run", self.cms.logon_url, self.cms.invoke_url, "admin",
                                  "secret", "--", "slow", "run%d" % i], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE) for i in range(3)]
        for i, process in enumerate(runs):
            out, err = process.communicate(timeout=60)
            self.assertEqual((process.returncode, out, err), (0, b"run%d\n" % i, b"run%d\n" % i))


    def test_stopping_the_stand_in_ends_running_commands(self):
        pid_file = os.path.join(self.dir, "pid")
        make_command(self.cms.commands_dir, "forever", 'echo $$ > "%s"; exec sleep 120\n' % pid_file)
        token = self.records("logon", self.cms.logon_url, "admin", "secret")[0]["token"]
        self.records("calls", self.cms.invoke_url, token, "admin", "--", "forever")
        deadline = time.monotonic() + 10
        text = ""
        while not text.endswith("\n") and time.monotonic() < deadline:
            time.sleep(0.05)
            if os.path.exists(pid_file):
                with open(pid_file) as f:
                    text = f.read()
        pid = int(text)
        self.cms.stop()
        with self.assertRaises(ProcessLookupError):
            os.kill(pid, 0)


class TlsTrust(CmsTestCase):
    """The server's certificate must verify against "server_cert.pem" and nothing else."""

    def logon(self, server_pem, env=None):
        cms = self.start_cms(tls_pem=server_pem)
        records = self.records("logon", cms.logon_url, "admin", "secret", env=env)
        return cms, records[0]

    def test_certificate_naming_another_host_is_accepted(self):
        _, record = self.logon(self.pki.other_host_pem)
        self.assertTrue(record["token"])

    def test_certificate_that_does_not_verify_is_refused(self):
        cms, record = self.logon(self.pki.untrusted_pem)
        self.assertEqual(record["token"], "")
        self.assertEqual(record["fault"]["detail"], "SSL connect failed in tcp_connect()")
        self.assertEqual(cms.requests(), [])

    def test_server_certificate_itself_may_be_pinned(self):
        # "server_cert.pem" holding the server's own certificate (signed by a CA, not self-signed)
        # is a pin of its own; another certificate of the same CA is not.
        cms = self.start_cms()
        for name, pinned, accepted in (("server's own", "server.crt", True),
                                       ("another of the same CA", "otherhost.crt", False)):
            with self.subTest(name):
                self.config = write_client_config(os.path.join(self.dir, pinned), cms.logon_url, cms.invoke_url,
                                                  ca_cert=os.path.join(self.pki.dir, pinned))
                record = self.records("logon", cms.logon_url, "admin", "secret")[0]
                if accepted:
                    self.assertTrue(record["token"], record)
                else:
                    self.assertEqual(record["token"], "")
                    self.assertEqual(record["fault"]["detail"], "SSL connect failed in tcp_connect()")
        self.assertEqual(len(cms.requests()), 1)

    def test_system_trust_store_is_not_consulted(self):
        env = dict(os.environ, SSL_CERT_FILE=self.pki.public_ca_cert, SSL_CERT_DIR=self.pki.dir)
        cms, record = self.logon(self.pki.public_pem, env=env)
        self.assertEqual(record["fault"]["detail"], "SSL connect failed in tcp_connect()")
        self.assertEqual(cms.requests(), [])

    def test_failed_tls_setup_sends_nothing(self):
        # After a failed set-up the calls fail at once with the set-up's fault: nothing goes to the
        # configured URL, nor to the generated default endpoint (port 50001 on this machine), where
        # a listener would have received the password.
        cms = self.start_cms()
        default_endpoint = []
        for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            try:
                listener = socket.socket(family, socket.SOCK_STREAM)
                listener.bind((host, 50001))
                listener.listen(8)
                listener.setblocking(False)
                default_endpoint.append(listener)
                self.addCleanup(listener.close)
            except OSError:  # port taken, or no IPv6: the fault's text still shows where it came from
                listener.close()
        # A FIFO, or a link to /dev/zero, in place of a file counts as a file that cannot be read:
        # no hang in the open, no read without end.
        not_regular = [("%s as a %s" % (file, kind), dict(), file, kind)
                       for file in ("server_cert.pem", "randomfile") for kind in ("FIFO", "link to /dev/zero")]
        for name, kwargs, replaced, kind in [("no server_cert.pem", dict(ca_cert=False), None, None),
                                             ("no randomfile", dict(random_bytes=None), None, None),
                                             ("empty randomfile", dict(random_bytes=0), None, None)] + not_regular:
            with self.subTest(name):
                config = os.path.join(self.dir, name.replace(" ", "-").replace("/", "-"))
                self.config = write_client_config(config, cms.logon_url, cms.invoke_url, **kwargs)
                if replaced:
                    os.remove(os.path.join(config, replaced))
                    if kind == "FIFO":
                        os.mkfifo(os.path.join(config, replaced))
                    else:
                        os.symlink("/dev/zero", os.path.join(config, replaced))
                expected = "Can't load randomness" if "randomfile" in name else "Can't read CA file"
                for logon in (("logon", cms.logon_url, "admin", "secret"), ("rootlogon", cms.logon_url, "admin")):
                    result = self.driver(*logon, timeout=20)
                    records, lines = parse_output(result.stdout)
                    self.assertEqual(lines, [LOGON_SETUP_FAILED.decode().rstrip("\n")])
                    self.assertEqual(records[0]["token"], "")
                    self.assertEqual((records[0]["fault"]["string"], records[0]["fault"]["detail"]),
                                     ("SSL/TLS error", expected))

                records, lines = parse_output(
                    self.driver("calls", cms.invoke_url, "tok", "admin", "--status", "1", "--", "x").stdout)
                self.assertEqual(lines, [])
                # The constructor's fault, then that of the invoke and of the status call.
                faults = [(r["fault"]["string"], r["fault"]["detail"]) for r in records if r.get("fault")]
                self.assertEqual(faults, [("SSL/TLS error", expected)] * 3)
        self.assertEqual(cms.requests(), [])
        for listener in default_endpoint:
            with self.assertRaises(BlockingIOError):
                listener.accept()


class LogonOnTheCms(CmsTestCase):
    """Logon with the bytes of the CMS's key file."""

    def setUp(self):
        super().setUp()
        self.cms_config = os.path.join(self.dir, "cmsconfig")
        os.makedirs(self.cms_config)

    def write_key(self, data):
        with open(os.path.join(self.cms_config, ".rconfig.server"), "wb") as f:
            f.write(data)

    def test_key_bytes_are_sent_with_the_user_name(self):
        key = bytes(range(256)) * 3
        self.write_key(key)
        cms = self.start_cms(config_dir=self.cms_config)
        records = self.records("rootlogon", cms.logon_url, "root")
        self.assertTrue(records[0]["token"])
        self.assertNotIn("fault", records[0])
        path_request, logon_request = cms.requests()
        self.assertEqual(path_request.raw_soap_action, '""')
        path_call = call_element(path_request)
        self.assertEqual((path_call.tag, len(path_call)), ("{%s}getCMSConfigPath" % NS["ns0"], 0))
        call = call_element(logon_request)
        self.assertEqual(call.tag, "{%s}logonAsRoot" % NS["ns0"])
        self.assertEqual([(c.tag, c.get(XSI_TYPE)) for c in call],
                         [("cmsPrivateKeyBytes", "xsd:base64Binary"), ("username", "xsd:string")])
        self.assertEqual((call[0].text, call[1].text), (b64(key), "root"))

    def test_empty_key_file_is_sent_as_an_empty_element(self):
        self.write_key(b"")
        cms = self.start_cms(config_dir=self.cms_config)
        records = self.records("rootlogon", cms.logon_url, "root")
        self.assertTrue(records[0]["token"])
        self.assertIn(b'<cmsPrivateKeyBytes xsi:type="xsd:base64Binary"></cmsPrivateKeyBytes>',
                      cms.requests()[1].body)

    def test_unreadable_key_file_gives_no_token_and_no_fault(self):
        cms = self.start_cms(config_dir=self.cms_config)
        records, lines = parse_output(self.driver("rootlogon", cms.logon_url, "root").stdout)
        self.assertEqual((records[0], lines), ({"call": "rootlogon", "token": ""}, []))
        self.assertEqual(len(cms.requests()), 1)

    def test_key_file_that_is_no_regular_file_gives_no_token_and_no_fault(self):
        # A directory would be read by a size it does not have; a FIFO would block the open.
        key_path = os.path.join(self.cms_config, ".rconfig.server")
        cms = self.start_cms(config_dir=self.cms_config)
        for make, remove in ((os.mkdir, os.rmdir), (os.mkfifo, os.unlink)):
            with self.subTest(make.__name__):
                make(key_path)
                result = self.driver("rootlogon", cms.logon_url, "root", timeout=20)
                remove(key_path)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(parse_output(result.stdout), ([{"call": "rootlogon", "token": ""}], []))
        self.assertEqual(len(cms.requests()), 2)

    def test_empty_install_path(self):
        cms = self.start_cms(config_dir="")
        result = self.driver("rootlogon", cms.logon_url, "root")
        self.assertTrue(result.stdout.startswith(EMPTY_INSTALL_PATH))
        self.assertEqual(parse_output(result.stdout)[0], [{"call": "rootlogon", "token": ""}])

    def test_install_path_under_another_element_name_is_not_taken(self):
        self.write_key(b"k")
        cms = self.start_cms(config_dir=self.cms_config)
        cms.script_reply(1, envelope("<ns0:getCMSConfigPathResponse><path xsi:type=\"xsd:string\">%s</path>"
                                     "</ns0:getCMSConfigPathResponse>" % self.cms_config))
        result = self.driver("rootlogon", cms.logon_url, "root")
        self.assertTrue(result.stdout.startswith(EMPTY_INSTALL_PATH))
        self.assertEqual(len(cms.requests()), 1)


class StandInKeptConnections(CmsTestCase):
    """The stand-in keeps a connection open for further requests, as production servers do, and
    closes it once it has been idle for its keep-alive time or when the client asks it to."""

    def exchange(self, tls, close=False):
        body = envelope("<ns0:getCMSConfigPath/>").encode()
        tls.sendall(b"POST /velsoap/services/VelpiMain5_0 HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\n"
                    b"SOAPAction: \"\"\r\n%sContent-Length: %d\r\n\r\n%s"
                    % (b"Connection: close\r\n" if close else b"", len(body), body))
        reply = b""
        while b"\r\n\r\n" not in reply:
            reply += tls.recv(65536)
        head, _, rest = reply.partition(b"\r\n\r\n")
        length = int(re.search(rb"(?i)content-length: *(\d+)", head).group(1))
        while len(rest) < length:
            rest += tls.recv(65536)
        return head

    def connect(self, cms):
        context = ssl.create_default_context(cafile=self.pki.ca_cert)
        context.check_hostname = False
        port = int(cms.base_url.rsplit(":", 1)[1])
        return context.wrap_socket(socket.create_connection(("127.0.0.1", port), timeout=20))

    def test_connection_is_kept_until_idle_for_the_keep_alive_time(self):
        cms = self.start_cms(keep_alive_ms=400)
        with self.connect(cms) as tls:
            for _ in range(3):
                self.assertIn(b"Connection: keep-alive", self.exchange(tls))
            start = time.monotonic()
            self.assertEqual(b"", tls.recv(1))
            self.assertGreater(time.monotonic() - start, 0.3)
        self.assertEqual(["full", "kept", "kept"], [r.handshake for r in cms.requests()])

    def test_connection_close_is_honoured(self):
        cms = self.start_cms()
        with self.connect(cms) as tls:
            self.assertIn(b"Connection: close", self.exchange(tls, close=True))
            self.assertEqual(b"", tls.recv(1))


class EmptyServiceUrl(CmsTestCase):
    """A missing URL fails the call like a refused connection; nothing is written or read."""

    def run_with_open_stdin(self, *args):
        process = subprocess.Popen([DRIVER, self.config] + list(args), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            start = time.monotonic()
            try:
                process.stdin.write(b"<not a reply/>")
                process.stdin.flush()
            except BrokenPipeError:
                pass  # the driver may already have ended without reading, as it should
            process.wait(timeout=20)
            self.assertLess(time.monotonic() - start, 20)
        finally:
            if process.poll() is None:
                process.kill()
            try:
                process.stdin.close()
            except BrokenPipeError:
                pass
        out, err = process.stdout.read(), process.stderr.read()
        process.stdout.close()
        process.stderr.close()
        return out, err

    def test_logon_and_invoke_without_url(self):
        self.config = write_client_config(os.path.join(self.dir, "cfg"))
        for args in (("logon", "", "admin", "s3cret-pw"), ("calls", "", "tok", "admin", "--status", "1", "--", "x")):
            with self.subTest(args[0]):
                out, err = self.run_with_open_stdin(*args)
                self.assertNotIn(b"s3cret-pw", out)
                self.assertNotIn(b"Envelope", out)
                records, lines = parse_output(out)
                self.assertEqual(lines, [])
                for record in records:
                    if "fault" in record:
                        self.assertEqual(record["fault"], {"code": "SOAP-ENV:Server", "string": "Connection refused",
                                                           "detail": "connect failed in tcp_connect()"})
                self.assertIn("fault", records[-1])


if __name__ == "__main__":
    DRIVER, VELCMS = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
