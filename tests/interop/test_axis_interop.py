"""clifclient against the logon and clif services deployed in Apache Axis 1.4, in the three ways
Axis serialises an RPC/encoded reply (and, for two of them, with a status record declared with
wrapper types, whose flags and numbers Axis then types SOAP-ENC:boolean, SOAP-ENC:long and
SOAP-ENC:int):

- its built-in defaults: every value of the status record travels as a multi-reference (the
  booleans and numbers too), strings typed SOAP-ENC:string, bytes SOAP-ENC:base64Binary;
- dotNetSoapEncFix: the record is still a multi-reference, its fields inline with xsd: types;
- sendMultiRefs off: the record inline in the return element, strings and bytes in SOAP-ENC types.

    python3 test_axis_interop.py CLIFCLIENT [unittest options]
"""

import http.client
import os
import time
import unittest
import urllib.parse

import axis_fixture as fx
from axis_fixture import hex_text
from clif_texts import CONNECTION_HELP, INVOKE_FAILED, PANIC_LINE

EVERY_BYTE = bytes(range(256))
CMS_KEY = bytes(range(255, -1, -1)) + b"\n-----END KEY-----\n"


def post(url, action, body):
    """The raw reply of the server to one request."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
    try:
        connection.request("POST", parts.path, body.encode("utf-8"),
                           {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"%s"' % action})
        return connection.getresponse().read().decode("utf-8")
    finally:
        connection.close()


class AxisInteropCases:
    """The cases every configuration runs; mixed into one AxisTestCase per configuration."""

    # Forms that the replies of this configuration must hold (so the cases below see them).
    LOGON_REPLY_FORMS = ()
    INVOKE_REPLY_FORMS = ()

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(cls.axis.cms_config_dir, exist_ok=True)
        with open(os.path.join(cls.axis.cms_config_dir, ".rconfig.server"), "wb") as f:
            f.write(CMS_KEY)

    def test_reply_forms_of_this_configuration(self):
        logon = fx.vt.envelope('<ns0:logon><username xsi:type="xsd:string">admin</username>'
                               '<password xsi:type="xsd:string">secret</password></ns0:logon>')
        reply = post(self.axis.logon_url, "", logon)
        for form in self.LOGON_REPLY_FORMS:
            self.assertIn(form, reply)
        self.axis.script([{"complete": True, "out": b"x"}])
        invoke = fx.vt.envelope(
            '<ns5:invoke><in0 xsi:type="xsd:string">token-admin</in0><in1 xsi:type="xsd:string">admin</in1>'
            '<in2 xsi:type="ns3:Map"/><in3 xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="xsd:string[1]">'
            '<item xsi:type="xsd:string">velnode</item></in3></ns5:invoke>')
        reply = post(self.axis.invoke_url, "clifservice", invoke)
        for form in self.INVOKE_REPLY_FORMS:
            self.assertIn(form, reply)

    def test_logon_and_invoke_carry_user_map_and_command_line(self):
        env = {"VEL_INTEROP": "two words <&> \"quoted\" 'single'",
               "VEL_LATIN1": os.fsdecode(b"caf\xe9 \xa0\xff")}
        args = ["-l", "two words", "<&>\"'", "--env", "OPT=x=y", "caf\u00e9", ""]
        result = self.run_client(args, [{"complete": True, "returnCode": 0, "out": b"done\n"}], env=env)
        self.assertEqual((b"done\n", b"", 0), (result.stdout, result.stderr, result.returncode))

        logon, invoke = self.calls()
        self.assertEqual(("logon", "admin", "secret"),
                         (logon.op, logon.string("username"), logon.string("password")))
        self.assertEqual(("invoke", "token-admin", "admin"),
                         (invoke.op, invoke.string("in0"), invoke.string("in1")))
        self.assertEqual("java.util.HashMap", invoke.value("in2.class"))
        expected = self.expected_env_map(env)
        # Bytes of 0x80 and above are sent as the ISO 8859-1 characters of the same code.
        expected["VEL_LATIN1"] = "caf\u00e9 \u00a0\u00ff"
        expected["OPT"] = "x=y"
        self.assertEqual(expected, invoke.map("in2"))
        self.assertEqual(["velnode", "-l", "two words", "<&>\"'", "caf\u00c3\u00a9", ""], invoke.array("in3"))

    def test_status_calls_carry_input_and_the_session(self):
        data = b"first line\nsecond line \xe9\n" + EVERY_BYTE + b"\nlast line without end"
        session = "s\u00e9ance-1"
        steps = [{"complete": False, "outOpen": True, "errOpen": True, "sessionId": session},
                 # echoes the input of each status call while the input is open; 2^32 + 500 ms is
                 # read as 500 ms, so no pause between the calls
                 {"hold": "input", "out": "echo", "outOpen": True, "errOpen": True,
                  "pollPeriod": 2 ** 32 + 500},
                 {"complete": True, "returnCode": 0, "err": b"bye\n"}]
        started = time.monotonic()
        result = self.run_client(["cat"], steps, stdin=data, env={"VEL_INTEROP": "x"})
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual((data, b"bye\n", 0), (result.stdout, result.stderr, result.returncode))

        calls = self.calls()
        self.assertEqual(["logon", "invoke"], [c.op for c in calls[:2]])
        statuses = calls[2:]
        self.assertGreaterEqual(len(statuses), 2)
        self.assertTrue(all(c.op == "status" for c in statuses))
        self.assertEqual(data, b"".join(c.bytes("in3") for c in statuses))
        flags = [c.value("in4") for c in statuses]
        self.assertEqual("false", flags[-1])
        self.assertEqual(["true"] * (flags.index("false")) + ["false"] * (len(flags) - flags.index("false")), flags)
        self.assertEqual(b"", statuses[-1].bytes("in3"))
        for call in statuses:
            self.assertEqual(("token-admin", session), (call.string("in0"), call.string("in1")))
            self.assertEqual(calls[1].map("in2"), call.map("in2"))

    def test_every_byte_value_on_both_streams(self):
        steps = [{"complete": False, "out": EVERY_BYTE[:100], "err": EVERY_BYTE[::-1][:100]},
                 {"complete": True, "out": EVERY_BYTE[100:], "err": EVERY_BYTE[::-1][100:], "returnCode": 0}]
        result = self.run_client([], steps)
        self.assertEqual(EVERY_BYTE, result.stdout)
        self.assertEqual(EVERY_BYTE[::-1], result.stderr)
        self.assertEqual(0, result.returncode)
        self.assertEqual(["logon", "invoke", "status"], [c.op for c in self.calls()])
        self.assertEqual((b"", "false"), (self.calls()[2].bytes("in3"), self.calls()[2].value("in4")))

    def test_return_code_of_the_final_reply(self):
        steps = [{"complete": False}, {"complete": False, "out": b"working\n"},
                 {"complete": True, "returnCode": 3}]
        result = self.run_client(["-x"], steps)
        self.assertEqual((b"working\n", 3), (result.stdout, result.returncode))
        self.assertEqual(["logon", "invoke", "status", "status"], [c.op for c in self.calls()])
        # A first reply that is already complete ends the run without a status call.
        result = self.run_client([], [{"complete": True, "returnCode": 300}])
        self.assertEqual(300 % 256, result.returncode)
        self.assertEqual(["logon", "invoke"], [c.op for c in self.calls()])

    def test_fault_of_the_invoke_call(self):
        steps = [{"fault": "Server", "faultstring": hex_text("Command refused <&> \u00e9")}]
        result = self.run_client(["-l"], steps)
        self.assertEqual(INVOKE_FAILED + b"Command refused <&> \xe9\n", result.stdout)
        self.assertEqual(255, result.returncode)

    def test_fault_of_a_status_call(self):
        # While the input is open the fault string follows the panic line; the service's Java
        # exception reaches the client as Axis words it.
        steps = [{"complete": False}, {"fault": "exception", "faultstring": hex_text("boom")}]
        result = self.run_client([], steps)
        self.assertEqual(PANIC_LINE + b"java.rmi.RemoteException: boom\n",
                         result.stdout)
        self.assertEqual(255, result.returncode)
        # Once the input has closed only the panic line is printed.
        steps = [{"complete": False}, {"complete": False}, {"fault": "Server", "faultstring": hex_text("gone")}]
        result = self.run_client([], steps)
        self.assertEqual(PANIC_LINE, result.stdout)
        self.assertEqual(255, result.returncode)
        self.assertEqual(["logon", "invoke", "status", "status"], [c.op for c in self.calls()])

    def test_refused_logon(self):
        result = self.run_client(["-l"], [], logon=("--user", "admin", "--pass", "wrong"))
        self.assertTrue(result.stdout.startswith(CONNECTION_HELP.splitlines(True)[0]), result.stdout)
        self.assertEqual(255, result.returncode)
        self.assertEqual(["logon"], [c.op for c in self.calls()])

    def test_logon_with_the_cms_key(self):
        result = self.run_client(["-l"], [{"complete": True, "out": b"ok\n"}], logon=("--user", "admin"))
        self.assertEqual((b"ok\n", 0), (result.stdout, result.returncode))
        path, root, invoke = self.calls()
        self.assertEqual(["getCMSConfigPath", "logonAsRoot", "invoke"], [path.op, root.op, invoke.op])
        self.assertEqual((CMS_KEY, "admin"), (root.bytes("cmsPrivateKeyBytes"), root.string("username")))
        self.assertEqual("roottoken-admin", invoke.string("in0"))


class DefaultSerialisationTest(AxisInteropCases, fx.AxisTestCase):
    AXIS_PARAMETERS = {}
    LOGON_REPLY_FORMS = ('xsi:type="soapenc:string"',)
    INVOKE_REPLY_FORMS = ('<invokeReturn href="#id0"/>', '<complete href="#', '<pollPeriod href="#',
                          'xsi:type="xsd:boolean"', 'xsi:type="soapenc:base64Binary"')


class DotNetSoapEncFixTest(AxisInteropCases, fx.AxisTestCase):
    AXIS_PARAMETERS = {"dotNetSoapEncFix": "true"}
    LOGON_REPLY_FORMS = ('<logonReturn xsi:type="xsd:string">',)
    INVOKE_REPLY_FORMS = ('<invokeReturn href="#id0"/>', '<complete xsi:type="xsd:boolean">',
                          'xsi:type="xsd:base64Binary"')


class NoMultiRefsTest(AxisInteropCases, fx.AxisTestCase):
    AXIS_PARAMETERS = {"sendMultiRefs": "false"}
    LOGON_REPLY_FORMS = ('xsi:type="soapenc:string"',)
    INVOKE_REPLY_FORMS = ('<invokeReturn xsi:type="ns2:clifstatus"', '<complete xsi:type="xsd:boolean">',
                          'xsi:type="soapenc:base64Binary"')


# A status record declared with wrapper types (Boolean, Long, Integer): Axis types those fields
# in SOAP encoding and, with multi-references on, lets equal values share one element.
class WrapperFieldsTest(AxisInteropCases, fx.AxisTestCase):
    AXIS_PARAMETERS = {}
    STATUS_CLASS = "BoxedClifStatus"
    LOGON_REPLY_FORMS = ('xsi:type="soapenc:string"',)
    INVOKE_REPLY_FORMS = ('<invokeReturn href="#id0"/>', '<complete href="#', 'xsi:type="soapenc:boolean"',
                          'xsi:type="soapenc:long"', 'xsi:type="soapenc:int"')


class WrapperFieldsNoMultiRefsTest(AxisInteropCases, fx.AxisTestCase):
    AXIS_PARAMETERS = {"sendMultiRefs": "false"}
    STATUS_CLASS = "BoxedClifStatus"
    LOGON_REPLY_FORMS = ('xsi:type="soapenc:string"',)
    INVOKE_REPLY_FORMS = ('<invokeReturn xsi:type="ns2:clifstatus"', '<complete xsi:type="soapenc:boolean"',
                          '<pollPeriod xsi:type="soapenc:long"', '<returnCode xsi:type="soapenc:int"')


if __name__ == "__main__":
    fx.main()
