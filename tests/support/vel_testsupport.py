"""Shared helpers for the black-box tests of clifclient and its SOAP layer.

Python 3 standard library only. Everything runs in temporary directories given
by the caller; every subprocess has a time-out.

PKI (made with the ``openssl`` command, once per process, cached):

    pki = make_pki()            # -> Pki, files in a private temp dir
    pki.ca_cert                 # CA that "server_cert.pem" holds
    pki.server_pem              # key + certificate for 127.0.0.1/localhost, signed by ca_cert
    pki.other_host_pem          # key + certificate naming "other-host.invalid", signed by ca_cert
    pki.untrusted_pem           # key + certificate for 127.0.0.1 signed by a second CA (does not verify)
    pki.public_ca_cert          # a third CA, standing for one only the system store trusts
    pki.public_pem              # key + certificate for 127.0.0.1 signed by public_ca_cert
                                # (point SSL_CERT_FILE at public_ca_cert to put it in the "default store")

Client configuration directory:

    write_client_config(config_dir, logon_url=None, invoke_url=None, ca_cert=None,
                        random_bytes=1024, extra_words=(), cfg_text=None)
        Writes "server_cert.pem" (a copy of ca_cert, default make_pki().ca_cert; skipped
        when ca_cert is False), "randomfile" (random_bytes random bytes; skipped when None)
        and "CLIClientConfig.cfg" ("velpimainurl=..." and "clifserviceurl=..." words, one
        per line, for the URLs that are given, then extra_words; or cfg_text verbatim).
        Returns config_dir with a trailing '/'.

Commands for the stand-in to run:

    make_command(commands_dir, name, script)  -> path
        Writes an executable "#!/bin/sh" script named name.
    link_command(commands_dir, name, target)  -> path
        Symlinks name to target (for instance the launcher binary).

The stand-in CMS (velcms):

    with StandInCms(velcms_path, work_dir, tls_pem=pki.server_pem, users={"admin": "secret"},
                    commands_dir=None, config_dir=None, poll_ms=20, max_chunk=None,
                    scripted=False, env=None) as cms:
        cms.base_url     # "https://127.0.0.1:PORT" (or http:// when tls_pem is None)
        cms.logon_url    # base_url + "/velsoap/services/VelpiMain5_0"
        cms.invoke_url   # base_url + "/jboss-net/services/clifservice"
        cms.script_reply(n, body, status=200)    # answer the n-th request (1-based, counted over
                                                  # all connections) with this XML body
        cms.script_raw(n, raw_bytes)              # ... or with these raw HTTP response bytes
        cms.requests()   # -> [RecordedRequest], in arrival order
    StandInCms.stop() sends SIGTERM and waits; leaving the "with" block stops it.
    work_dir receives "record/" (raw requests), "script/" (replies), "velcms.err" (its stderr).
    A request without a scripted reply is served normally. scripted=True only makes the
    script directory known to the server from the start (script_reply works either way as
    long as the file is written before the request arrives).

    RecordedRequest: number, request_line, headers (dict, lower-case names), soap_action
    (the SOAPAction header value with its quotes removed, None when absent), body (bytes),
    root() (the body parsed with xml.etree.ElementTree), operation() (the local name of the
    body's first element).

Building replies:

    NS                          # prefix -> namespace URI of the services (same as the client's)
    envelope(body_xml)          # full SOAP 1.1 envelope declaring all prefixes of NS
    fault_body(code, string, detail_xml=None)   # a SOAP-ENV:Fault element
    status_xml(**fields)        # an ns1:clifstatus element's children (complete, err, errOpen,
                                # out, outOpen, pollPeriod, returnCode, sessionId); bytes values
                                # are Base64-encoded, None writes xsi:nil, fields not given are
                                # left out
    b64(data)                   # Base64 text of bytes

Running programs:

    run(cmd, timeout=30, **popen_kwargs) -> subprocess.CompletedProcess (bytes output)
"""

import base64
import os
import re
import shutil
import signal
import select
import subprocess
import tempfile
import xml.etree.ElementTree as ET

NS = {
    "SOAP-ENV": "http://schemas.xmlsoap.org/soap/envelope/",
    "SOAP-ENC": "http://schemas.xmlsoap.org/soap/encoding/",
    "xsi": "http://www.w3.org/2001/XMLSchema-instance",
    "xsd": "http://www.w3.org/2001/XMLSchema",
    "ns1": "http://clifservice",
    "ns3": "http://xml.apache.org/xml-soap",
    "ns5": "http://clif.server.vel.orva.com",
    "ns0": "urn:vel-clientsoap-5.0",
}

LOGON_PATH = "/velsoap/services/VelpiMain5_0"
INVOKE_PATH = "/jboss-net/services/clifservice"


def run(cmd, timeout=30, **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.PIPE)
    return subprocess.run(cmd, timeout=timeout, check=False, **kwargs)


def b64(data):
    return base64.b64encode(data).decode("ascii")


# ---------------------------------------------------------------- PKI

class Pki:
    pass


_pki = None


def _openssl(*args, cwd):
    result = run(["openssl", *args], cwd=cwd, timeout=60)
    if result.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], result.stderr.decode(errors="replace")))


def _make_ca(d, name):
    _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", name + ".key", "-out", name + ".pem", "-days", "3650", "-subj", "/CN=" + name,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)
    return os.path.join(d, name + ".pem")


def _make_leaf(d, name, ca, cn, san):
    _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + cn, cwd=d)
    with open(os.path.join(d, name + ".ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nsubjectAltName=%s\nextendedKeyUsage=serverAuth\n" % san)
    _openssl("x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
             "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", "3650",
             "-extfile", name + ".ext", "-out", name + ".crt", cwd=d)
    combined = os.path.join(d, name + ".pem")
    with open(combined, "wb") as out:
        for part in (name + ".key", name + ".crt"):
            with open(os.path.join(d, part), "rb") as f:
                out.write(f.read())
    return combined


def make_pki():
    """Creates (once per process) the CAs and certificates described above."""
    global _pki
    if _pki is not None:
        return _pki
    d = tempfile.mkdtemp(prefix="vel-pki-")
    import atexit
    atexit.register(shutil.rmtree, d, True)
    pki = Pki()
    pki.dir = d
    pki.ca_cert = _make_ca(d, "testca")
    pki.server_pem = _make_leaf(d, "server", "testca", "127.0.0.1", "IP:127.0.0.1,DNS:localhost")
    pki.other_host_pem = _make_leaf(d, "otherhost", "testca", "other-host.invalid", "DNS:other-host.invalid")
    _make_ca(d, "strangerca")
    pki.untrusted_pem = _make_leaf(d, "untrusted", "strangerca", "127.0.0.1", "IP:127.0.0.1,DNS:localhost")
    pki.public_ca_cert = _make_ca(d, "publicca")
    pki.public_pem = _make_leaf(d, "public", "publicca", "127.0.0.1", "IP:127.0.0.1,DNS:localhost")
    _pki = pki
    return pki


# ---------------------------------------------------------------- client configuration

def write_client_config(config_dir, logon_url=None, invoke_url=None, ca_cert=None, random_bytes=1024,
                        extra_words=(), cfg_text=None):
    os.makedirs(config_dir, exist_ok=True)
    if ca_cert is not False:
        shutil.copyfile(ca_cert or make_pki().ca_cert, os.path.join(config_dir, "server_cert.pem"))
    if random_bytes is not None:
        with open(os.path.join(config_dir, "randomfile"), "wb") as f:
            f.write(os.urandom(random_bytes))
    if cfg_text is None:
        words = []
        if logon_url is not None:
            words.append("velpimainurl=" + logon_url)
        if invoke_url is not None:
            words.append("clifserviceurl=" + invoke_url)
        words.extend(extra_words)
        cfg_text = "".join(w + "\n" for w in words)
    with open(os.path.join(config_dir, "CLIClientConfig.cfg"), "w") as f:
        f.write(cfg_text)
    return config_dir if config_dir.endswith("/") else config_dir + "/"


def make_command(commands_dir, name, script):
    os.makedirs(commands_dir, exist_ok=True)
    path = os.path.join(commands_dir, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + script)
    os.chmod(path, 0o755)
    return path


def link_command(commands_dir, name, target):
    os.makedirs(commands_dir, exist_ok=True)
    path = os.path.join(commands_dir, name)
    os.symlink(target, path)
    return path


# ---------------------------------------------------------------- replies

def envelope(body_xml):
    declarations = " ".join('xmlns:%s="%s"' % (p, u) for p, u in NS.items())
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<SOAP-ENV:Envelope %s>'
            '<SOAP-ENV:Body SOAP-ENV:encodingStyle="%s">%s</SOAP-ENV:Body></SOAP-ENV:Envelope>'
            % (declarations, NS["SOAP-ENC"], body_xml))


def fault_body(code, string, detail_xml=None):
    detail = "" if detail_xml is None else "<detail>%s</detail>" % detail_xml
    return ("<SOAP-ENV:Fault><faultcode>%s</faultcode><faultstring>%s</faultstring>%s</SOAP-ENV:Fault>"
            % (code, string, detail))


_STATUS_TYPES = {"complete": None, "errOpen": None, "outOpen": None, "pollPeriod": None,
                 "returnCode": None, "err": "xsd:base64Binary", "out": "xsd:base64Binary",
                 "sessionId": "xsd:string"}


def status_xml(**fields):
    parts = []
    for name, value in fields.items():
        xsd_type = _STATUS_TYPES.get(name, "xsd:string")
        typed = ' xsi:type="%s"' % xsd_type if xsd_type else ""
        if value is None:
            parts.append('<%s xsi:nil="true"/>' % name)
            continue
        if isinstance(value, bool):
            text = "true" if value else "false"
        elif isinstance(value, (bytes, bytearray)):
            text = b64(bytes(value))
        else:
            text = str(value)
        parts.append("<%s%s>%s</%s>" % (name, typed, text, name))
    return "".join(parts)


# ---------------------------------------------------------------- the stand-in CMS

class RecordedRequest:
    def __init__(self, number, raw, handshake=None):
        self.number = number
        self.handshake = handshake  # "full", "resumed" or "kept" over TLS, None over plain HTTP
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.request_line = lines[0]
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()
        action = self.headers.get("soapaction")
        self.soap_action = action.strip('"') if action is not None else None
        self.raw_soap_action = action

    def root(self):
        return ET.fromstring(self.body)

    def operation(self):
        body = self.root().find("{%s}Body" % NS["SOAP-ENV"])
        first = list(body)[0]
        return first.tag.split("}")[-1]


def read_printed_url(process, pattern, seconds):
    """The URL a just-started server prints on its first line of standard output, and that line;
    (None, line) when no line matching pattern came within the given seconds."""
    ready, _, _ = select.select([process.stdout], [], [], seconds)
    line = process.stdout.readline().decode() if ready else ""
    match = re.search(pattern, line)
    return (match.group(1) if match else None), line


def end_server_process(process, err_file):
    """Waits for a server that was asked to stop, kills it if it does not, closes its files."""
    try:
        process.wait(timeout=15)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=15)
    process.stdout.close()
    err_file.close()


class StandInCms:
    def __init__(self, velcms, work_dir, tls_pem=None, users=None, commands_dir=None, config_dir=None,
                 poll_ms=20, max_chunk=None, scripted=False, env=None, keep_alive_ms=None):
        self.velcms = velcms
        self.work_dir = work_dir
        self.tls_pem = tls_pem
        self.users = {"admin": "secret"} if users is None else users
        self.commands_dir = commands_dir or os.path.join(work_dir, "commands")
        self.config_dir = config_dir
        self.poll_ms = poll_ms
        self.max_chunk = max_chunk
        self.env = env
        self.keep_alive_ms = keep_alive_ms
        self.record_dir = os.path.join(work_dir, "record")
        self.script_dir = os.path.join(work_dir, "script")
        self.process = None
        self.base_url = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        os.makedirs(self.record_dir, exist_ok=True)
        os.makedirs(self.script_dir, exist_ok=True)
        os.makedirs(self.commands_dir, exist_ok=True)
        users_file = os.path.join(self.work_dir, "users")
        with open(users_file, "w") as f:
            for user, password in self.users.items():
                f.write("%s:%s\n" % (user, password))
        cmd = [self.velcms, "--port", "0", "--users", users_file, "--commands", self.commands_dir,
               "--poll-ms", str(self.poll_ms), "--record", self.record_dir, "--script", self.script_dir]
        cmd += ["--tls", self.tls_pem] if self.tls_pem else ["--http"]
        if self.config_dir is not None:
            cmd += ["--config-dir", self.config_dir]
        if self.max_chunk:
            cmd += ["--max-chunk", str(self.max_chunk)]
        if self.keep_alive_ms is not None:
            cmd += ["--keep-alive-ms", str(self.keep_alive_ms)]
        self.err_file = open(os.path.join(self.work_dir, "velcms.err"), "wb")
        self.process = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=self.err_file,
                                        stdin=subprocess.DEVNULL, env=self.env)
        url, line = read_printed_url(self.process, r"(https?://\S+)", 20)
        if not url:
            self.stop()
            raise RuntimeError("velcms did not start: %r" % line)
        self.base_url = url
        self.logon_url = self.base_url + LOGON_PATH
        self.invoke_url = self.base_url + INVOKE_PATH

    def stop(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        end_server_process(self.process, self.err_file)
        self.process = None

    def script_raw(self, number, raw):
        path = os.path.join(self.script_dir, "reply-%04d.http" % number)
        with open(path + ".tmp", "wb") as f:
            f.write(raw)
        os.replace(path + ".tmp", path)

    def script_reply(self, number, body, status=200):
        data = body.encode("utf-8") if isinstance(body, str) else body
        reason = {200: "OK", 500: "Internal Server Error"}.get(status, "Status")
        head = ("HTTP/1.1 %d %s\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: %d\r\n"
                "Connection: close\r\n\r\n" % (status, reason, len(data)))
        self.script_raw(number, head.encode("ascii") + data)

    def requests(self):
        found = []
        for name in sorted(os.listdir(self.record_dir)):
            match = re.fullmatch(r"request-(\d+)\.http", name)
            if match:
                with open(os.path.join(self.record_dir, name), "rb") as f:
                    raw = f.read()
                handshake = os.path.join(self.record_dir, "handshake-%s.txt" % match.group(1))
                kind = None
                if os.path.exists(handshake):
                    with open(handshake) as f:
                        kind = f.read()
                found.append(RecordedRequest(int(match.group(1)), raw, kind))
        return found
