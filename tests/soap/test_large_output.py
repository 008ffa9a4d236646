"""A command that writes a large output stream runs through clifclient in
bounded memory: the client keeps only the last two replies' bytes. The peak
resident size is the client's own, as wait4 reports it for the child.

usage: test_large_output.py CLIFCLIENT VELCMS [unittest options]
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vel_testsupport import StandInCms, link_command, make_command, make_pki, write_client_config

CLIFCLIENT = None
VELCMS = None

LINE = b"0123456789abcdefghijklmnopqrstu\n"  # 32 bytes
TOTAL = 256 * 1024 * 1024
CHUNK = 2 * 1024 * 1024          # output bytes per reply
RSS_LIMIT_KB = 64 * 1024         # far below the 256 MiB that passes through


class LargeOutput(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vel-large-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def test_output_stream_in_flat_memory(self):
        cms = StandInCms(VELCMS, self.dir, tls_pem=make_pki().server_pem, poll_ms=10, max_chunk=CHUNK)
        make_command(cms.commands_dir, "flood", "yes %s | head -c %d\n" % (LINE.decode().strip(), TOTAL))
        with cms:
            # The client under the command's name, its configuration beside it (bin/../bin/).
            bindir = os.path.join(self.dir, "bin")
            program = link_command(bindir, "flood", CLIFCLIENT)
            write_client_config(bindir, cms.logon_url, cms.invoke_url)
            process = subprocess.Popen([program, "--user", "admin", "--pass", "secret"],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            watchdog = threading.Timer(240, process.kill)
            watchdog.start()
            try:
                digest, received = hashlib.sha256(), 0
                while True:
                    block = process.stdout.read(1 << 20)
                    if not block:
                        break
                    digest.update(block)
                    received += len(block)
                err = process.stderr.read().decode()
                _, status, usage = os.wait4(process.pid, 0)
                process.returncode = os.waitstatus_to_exitcode(status)
            finally:
                watchdog.cancel()
                process.stdout.close()
                process.stderr.close()

        expected = hashlib.sha256()
        block = LINE * (1 << 15)
        for _ in range(TOTAL // len(block)):
            expected.update(block)
        self.assertEqual(process.returncode, 0, err)
        self.assertEqual(received, TOTAL)
        self.assertEqual(digest.hexdigest(), expected.hexdigest())
        self.assertLess(usage.ru_maxrss, RSS_LIMIT_KB, "peak resident size %d KiB" % usage.ru_maxrss)


if __name__ == "__main__":
    CLIFCLIENT, VELCMS = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
