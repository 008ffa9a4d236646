"""A TCP proxy on 127.0.0.1 that makes a link of a given round-trip time: each chunk it reads is
written on only after half the RTT, in each direction, in order (this kernel has no netem).
Bandwidth is not limited; both sides have TCP_NODELAY, so the proxy adds no waits of its own.
It counts the connections it carries.

    proxy = DelayProxy(backend_port, rtt_ms)
    proxy.port, proxy.connections
    proxy.close()

Run alone: delay_proxy.py BACKEND_PORT RTT_MS (prints the port, serves until interrupted).
"""

import collections
import select
import socket
import sys
import threading
import time

CHUNK = 256 * 1024


def _nodelay(sock):
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


class _Direction:
    """Bytes from src, each chunk written to dst half an RTT after it was read."""

    def __init__(self, src, dst, delay, pair):
        self.src, self.dst, self.delay, self.pair = src, dst, delay, pair
        self.queue = collections.deque()
        self.ready = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=self.write, daemon=True).start()

    def read(self):
        while True:
            try:
                data = self.src.recv(CHUNK)
            except OSError:
                data = b""
            with self.ready:
                self.queue.append((time.monotonic() + self.delay, data))
                self.ready.notify()
            if not data:
                return

    def write(self):
        while True:
            with self.ready:
                while not self.queue:
                    self.ready.wait()
                due, data = self.queue.popleft()
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            try:
                if not data:
                    self.dst.shutdown(socket.SHUT_WR)
                    self.pair.ended()
                    return
                self.dst.sendall(data)
            except OSError:
                self.pair.ended(broken=True)
                return


class _Pair:
    def __init__(self, client, server):
        self.client, self.server = client, server
        self.lock = threading.Lock()
        self.open_directions = 2

    def ended(self, broken=False):
        with self.lock:
            self.open_directions -= 1
            if broken or self.open_directions == 0:
                for sock in (self.client, self.server):
                    try:
                        sock.close()
                    except OSError:
                        pass


class DelayProxy:
    def __init__(self, backend_port, rtt_ms, backend_host="127.0.0.1"):
        self.backend = (backend_host, backend_port)
        self.delay = rtt_ms / 2000.0
        self.connections = 0
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.closing = False
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while not self.closing:
            ready, _, _ = select.select([self.listener], [], [], 0.2)
            if not ready or self.closing:
                continue
            try:
                client, _ = self.listener.accept()
            except OSError:
                continue
            self.connections += 1
            threading.Thread(target=self.carry, args=(client,), daemon=True).start()

    def carry(self, client):
        # The kernel completed the client's connect at once. On the link it takes a round trip
        # (SYN, SYN-ACK) before the client's first bytes leave: they are taken in only after one
        # RTT, and then held half an RTT like any other chunk.
        _nodelay(client)
        time.sleep(2 * self.delay)
        try:
            server = socket.create_connection(self.backend)
        except OSError:
            client.close()
            return
        _nodelay(server)
        pair = _Pair(client, server)
        _Direction(client, server, self.delay, pair)
        _Direction(server, client, self.delay, pair)

    def close(self):
        self.closing = True
        self.listener.close()


if __name__ == "__main__":
    proxy = DelayProxy(int(sys.argv[1]), float(sys.argv[2]))
    print(proxy.port, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        proxy.close()
