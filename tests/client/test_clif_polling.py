"""clifclient's polling loop: status calls, pauses, input relay, output and exit status."""

import os
import pty
import subprocess
import time

import clif_fixture as cf
from clif_fixture import invoke_reply, status_reply


class ScriptedPolling(cf.ClifTestCase):
    """The stand-in answers invoke and status with scripted records."""

    def run_scripted(self, replies, stdin=subprocess.DEVNULL, **kwargs):
        for offset, body in enumerate(replies, start=2):
            self.script(offset, body)
        start = time.monotonic()
        result = self.run_client(["-l"], stdin=stdin, **kwargs)
        return result, time.monotonic() - start

    def status_calls(self):
        return [r for r in self.sent() if r.operation() == "status"]

    def pause_between_status_calls(self):
        first, second = self.status_calls()[:2]
        return cf.arrival(self.request_path(second)) - cf.arrival(self.request_path(first))

    def test_first_result_complete_ends_without_status_call(self):
        result, _ = self.run_scripted([invoke_reply(complete=True, returnCode=7, out=b"done", sessionId="s")])
        self.assertEqual((7, b"done"), (result.returncode, result.stdout))
        self.assertOperations(["logon", "invoke"])

    def test_first_status_call_at_once_and_session_of_the_last_reply(self):
        result, elapsed = self.run_scripted([
            invoke_reply(complete=False, pollPeriod=5000, sessionId="alpha"),
            status_reply(complete=False, pollPeriod=0, sessionId="beta"),
            status_reply(complete=False, pollPeriod=0, sessionId=None),
            status_reply(complete=True, returnCode=0, sessionId="gamma")])
        self.assertEqual(0, result.returncode)
        self.assertLess(elapsed, 4, "the poll period of the invoke reply must not delay the first status call")
        self.assertEqual(["alpha", "beta", ""], [cf.child_text(r, "in1") for r in self.status_calls()])
        token = cf.child_text(self.sent()[1], "in0")
        self.assertTrue(token)
        self.assertEqual([token] * 3, [cf.child_text(r, "in0") for r in self.status_calls()])

    def test_pause_in_whole_seconds_of_the_poll_period(self):
        for period, low, high in ((500, 0, 0.9), (-3000, 0, 0.9), (2500, 1.9, 2.9)):
            with self.subTest(period=period):
                result, _ = self.run_scripted([
                    invoke_reply(complete=False, sessionId="s"),
                    status_reply(complete=False, pollPeriod=period, sessionId="s"),
                    status_reply(complete=True, returnCode=0, pollPeriod=period, sessionId="s")])
                self.assertEqual(0, result.returncode)
                pause = self.pause_between_status_calls()
                self.assertTrue(low <= pause <= high, "pause %.2f s for %d ms" % (pause, period))

    def test_output_of_each_reply_on_its_stream(self):
        result, _ = self.run_scripted([
            invoke_reply(complete=False, out=b"one ", err=b"E1", sessionId="s"),
            status_reply(complete=False, out=b"\x00two\xff", err=b"", sessionId="s"),
            status_reply(complete=True, returnCode=0, out=b"three", err=b"E3\n", sessionId="s")])
        self.assertEqual(b"one \x00two\xffthree", result.stdout)
        self.assertEqual(b"E1E3\n", result.stderr)

    def test_exit_status_is_the_low_byte_of_the_return_code(self):
        # A failure whose low byte is 0 must not read as success: it exits with 1.
        for code, expected in ((258, 2), (-1, 255), (0, 0), (256, 1), (-256, 1), (-2 ** 31, 1)):
            with self.subTest(code=code):
                result, _ = self.run_scripted([invoke_reply(complete=True, returnCode=code, sessionId="s")])
                self.assertEqual(expected, result.returncode)

    def test_input_from_a_file_travels_in_one_call(self):
        for data in (b"one\ntwo\nthree", b"abc", b""):
            with self.subTest(data=data):
                path = os.path.join(self.work, "input")
                with open(path, "wb") as f:
                    f.write(data)
                with open(path, "rb") as stdin:
                    result, _ = self.run_scripted([
                        invoke_reply(complete=False, sessionId="s"),
                        status_reply(complete=False, sessionId="s"),
                        status_reply(complete=True, returnCode=0, sessionId="s")], stdin=stdin)
                self.assertEqual(0, result.returncode)
                self.assertEqual([(data, "false"), (b"", "false")],
                                 [cf.status_input(r) for r in self.status_calls()])

    def test_failed_local_write_ends_the_run_with_status_1(self):
        for stream, name in (("stdout", b"standard output"), ("stderr", b"standard error")):
            with self.subTest(stream=stream), open("/dev/full", "wb") as full:
                output = {"out" if stream == "stdout" else "err": b"lost bytes"}
                # Only the invoke is scripted: no status call may follow.
                result, _ = self.run_scripted([invoke_reply(complete=False, sessionId="s", **output)],
                                              **{stream: full})
                self.assertEqual(1, result.returncode)
                self.assertOperations(["logon", "invoke"])
                if stream == "stdout":
                    self.assertEqual(b"Error writing " + name + b": No space left on device\n", result.stderr)

    def test_closed_standard_input_reads_as_empty(self):
        # Descriptor 0 closed at the start is replaced by /dev/null, so the input wait
        # cannot fail on it and no socket can take its place.
        result, _ = self.run_scripted([invoke_reply(complete=False, out=b"started\n", sessionId="s"),
                                       status_reply(complete=True, returnCode=0, sessionId="s")],
                                      preexec_fn=lambda: os.close(0))
        self.assertEqual((0, b"started\n", b""), (result.returncode, result.stdout, result.stderr))
        self.assertEqual([(b"", "false")], [cf.status_input(r) for r in self.status_calls()])


class LiveCommand(cf.ClifTestCase):
    """The stand-in runs real commands."""

    def test_remote_bytes_exactly_on_the_right_stream_and_exit_status(self):
        self.command("velnode", "printf 'a\\000b\\377'; printf 'E\\001' >&2; exit 3\n")
        result = self.run_client([])
        self.assertEqual((3, b"a\x00b\xff", b"E\x01"), (result.returncode, result.stdout, result.stderr))

    def test_piped_input_reaches_the_command(self):
        self.command("velnode", "tr a-z A-Z\n")
        result = self.run_client([], input=b"hello\nworld", stdin=None)
        self.assertEqual((0, b"HELLO\nWORLD"), (result.returncode, result.stdout))

    def test_pipe_that_stays_open(self):
        # Two lines in one write: the second must go up although the pipe has nothing more.
        self.command("velnode", 'read one; read two; echo "got:$one|$two"\n')
        read_end, write_end = os.pipe()
        try:
            os.write(write_end, b"first line\nsecond line\n")
            result = self.run_client([], stdin=read_end)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual((0, b"got:first line|second line\n"), (result.returncode, result.stdout))
        inputs = [cf.status_input(r) for r in self.sent() if r.operation() == "status"]
        self.assertEqual(b"first line\nsecond line\n", b"".join(data for data, _ in inputs))
        self.assertEqual({"true"}, {flag for _, flag in inputs})

    def test_partial_line_goes_up_while_the_producer_pauses(self):
        self.command("velnode", 'head -c 3; echo " seen"\n')
        read_end, write_end = os.pipe()
        try:
            os.write(write_end, b"abc")
            result = self.run_client([], stdin=read_end, timeout=20)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual((0, b"abc seen\n"), (result.returncode, result.stdout))

    def test_large_input_goes_up_in_bounded_calls_in_order(self):
        self.command("velnode", "wc -c\n")
        data = bytes(range(256)) * (10 * 1024) + b"tail"  # 2.5 MiB and a bit
        path = os.path.join(self.work, "large-input")
        with open(path, "wb") as f:
            f.write(data)
        with open(path, "rb") as stdin:
            result = self.run_client([], stdin=stdin)
        self.assertEqual((0, b"%d\n" % len(data)), (result.returncode, result.stdout))
        inputs = [cf.status_input(r) for r in self.sent() if r.operation() == "status"]
        self.assertEqual(data, b"".join(piece for piece, _ in inputs))
        self.assertLessEqual(max(len(piece) for piece, _ in inputs), 1 << 20)
        # The input-open flag turns false with the call that carries the last bytes.
        last = max(i for i, (piece, _) in enumerate(inputs) if piece)
        self.assertEqual(["true"] * last + ["false"] * (len(inputs) - last), [flag for _, flag in inputs])

    def test_terminal_that_stays_open(self):
        self.command("velnode", 'read line; echo "got:$line"\n')
        master, slave = pty.openpty()
        try:
            os.write(master, b"typed\n")
            result = self.run_client([], stdin=slave)
        finally:
            os.close(slave)
            os.close(master)
        self.assertEqual((0, b"got:typed\n"), (result.returncode, result.stdout))
        inputs = [cf.status_input(r) for r in self.sent() if r.operation() == "status"]
        self.assertEqual({"true"}, {flag for _, flag in inputs})

    def test_nothing_typed_keeps_polling(self):
        self.command("velnode", "sleep 1; echo finished\n")
        read_end, write_end = os.pipe()
        try:
            result = self.run_client([], stdin=read_end)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual((0, b"finished\n"), (result.returncode, result.stdout))


if __name__ == "__main__":
    cf.main()
