"""A tiny TLS server that answers each connection the way a test tells it to: a good reply,
a broken one, or none at all. Python 3 standard library only.

    with FaultServer(pem, [behaviour, ...]) as server:
        server.url                      # "https://127.0.0.1:PORT/svc"
        server.served                   # number of connections handled so far
        server.requests                 # the requests read so far (raw bytes), in order
        server.on_connect               # optional callable run as each connection is accepted
        server.server_names             # the server name (SNI) of each handshake, None for none

One behaviour per connection, in order. A behaviour is a callable taking (Connection); the
helpers below make the usual ones, and in_turn strings several together on one kept connection. When the list is used up, further connections are closed
at once. After server.refuse() (or a refuse_after behaviour) connections are refused.
"""

import socket
import ssl
import struct
import threading
import time


class Connection:
    def __init__(self, sock, server):
        self.sock = sock
        self.server = server

    def read_request(self, limit=None):
        """Reads the HTTP head and as much of the body as Content-Length says (or limit bytes)."""
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(65536)
            if not chunk:
                return data
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        if limit is not None:
            length = min(length, limit)
        while len(body) < length:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            body += chunk
        request = head + b"\r\n\r\n" + body
        self.server.requests.append(request)
        return request

    def send(self, data):
        self.sock.sendall(data)

    def reset(self):
        """Ends the connection with a TCP reset (no TLS close, no FIN)."""
        raw = self.sock
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # Close the descriptor under the TLS layer so that nothing more is written to it.
        socket.socket(fileno=raw.detach()).close()


def http_response(body, status=200, reason=None, content_type="text/xml; charset=utf-8", length=None,
                  connection="close", version="HTTP/1.1"):
    """An HTTP reply; connection=None leaves the Connection header out (HTTP/1.1 keeps the connection
    open then), length=None gives the body's own length."""
    body = body.encode("utf-8") if isinstance(body, str) else body
    reason = reason or {200: "OK", 404: "Not Found", 500: "Internal Server Error"}.get(status, "Status")
    head = ("%s %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
            % (version, status, reason, content_type, len(body) if length is None else length))
    if connection:
        head += "Connection: %s\r\n" % connection
    return (head + "\r\n").encode("ascii") + body


def kept(raw):
    """The same reply with the connection kept open (no "Connection: close")."""
    return raw.replace(b"Connection: close\r\n", b"", 1)


def reply(raw):
    """Reads the request and answers with these raw HTTP bytes."""
    def behave(conn):
        conn.read_request()
        conn.send(raw)
    return behave


def reply_streamed(head, parts):
    """Reads the request, sends the HTTP head and then each piece that parts (an iterable) yields,
    made as they go: a reply of hundreds of megabytes costs the test no memory. A client that
    stops reading (a refused reply) ends the sending."""
    def behave(conn):
        conn.read_request()
        try:
            conn.send(head)
            for piece in parts:
                conn.send(piece)
        except (ssl.SSLError, OSError):
            pass
    return behave


def refuse_after(raw):
    """Reads the request, stops listening and only then answers: the next call is refused."""
    def behave(conn):
        conn.read_request()
        conn.server.refuse()
        conn.send(raw)
    return behave


def reset_after(raw):
    """Reads the request, sends these bytes (part of a reply) and resets the connection."""
    def behave(conn):
        conn.read_request()
        conn.send(raw)
        conn.reset()
    return behave


def reply_and_hold(raw, held):
    """Reads the request, sends these bytes in pieces of 16 KiB a millisecond apart (the client
    waits for each) and keeps the connection open until the client closes it; appends to held
    whether the server's time-out ended the wait instead."""
    def behave(conn):
        conn.read_request()
        for start in range(0, len(raw), 16384):
            conn.send(raw[start:start + 16384])
            time.sleep(0.001)
        try:
            while conn.sock.recv(4096):
                pass
            held.append(False)
        except socket.timeout:
            held.append(True)
        except (ssl.SSLError, OSError):
            held.append(False)
    return behave


def in_turn(*behaviours):
    """Several behaviours, one after the other, on the same connection; then it is closed."""
    def behave(conn):
        for behaviour in behaviours:
            behaviour(conn)
    return behave


def close_notify(conn):
    """Ends the connection with a TLS close_notify before the TCP close."""
    conn.sock.unwrap()


def idle(seconds):
    """Leaves the connection idle for a while (a server's idle time-out), then goes on."""
    def behave(conn):
        time.sleep(seconds)
    return behave


def read_and_close(conn):
    """Reads a request and closes the connection without a reply."""
    conn.read_request()


def hold(received):
    """Keeps the connection open until the client closes it; appends to received what came on it
    meanwhile (b"" when the client sent nothing more)."""
    def behave(conn):
        data = b""
        try:
            while True:
                chunk = conn.sock.recv(65536)
                if not chunk:
                    break
                data += chunk
        except (ssl.SSLError, OSError):
            pass
        received.append(data)
    return behave


def hang_up_while_receiving(reset):
    """Reads only the start of the request, then closes (reset=False) or resets the connection."""
    def behave(conn):
        conn.sock.recv(1024)
        if reset:
            conn.reset()
    return behave


class FaultServer:
    def __init__(self, pem, behaviours):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(pem)
        self.server_names = []
        self.context.sni_callback = lambda sock, name, context: self.server_names.append(name)
        self.behaviours = list(behaviours)
        self.served = 0
        self.requests = []
        self.on_connect = None
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.url = "https://127.0.0.1:%d/svc" % self.listener.getsockname()[1]
        self.errors = []
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.refuse()
        self.thread.join(timeout=20)
        return False

    def refuse(self):
        listener, self.listener = self.listener, None
        if listener is not None:
            try:
                listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            listener.close()

    def _serve(self):
        while self.listener is not None:
            try:
                raw, _ = self.listener.accept()
            except OSError:
                return
            raw.settimeout(20)
            raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                with self.context.wrap_socket(raw, server_side=True) as conn:
                    behave = self.behaviours.pop(0) if self.behaviours else None
                    self.served += 1
                    if self.on_connect is not None:
                        self.on_connect()
                    if behave is not None:
                        behave(Connection(conn, self))
            except Exception as error:  # noqa: BLE001 - the test reads them; the server goes on
                self.errors.append(error)

