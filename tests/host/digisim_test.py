#!/usr/bin/env python3
"""The simulator's timing, where a fault would not fail any Wine test but would make the
rig kinder than a real line: a reply never comes before the frame has crossed the wire
plus the turnaround, its bytes are paced at the baud rate, and with a lag (a slow
adapter) the frame stays in the line's output queue, where a transmit purge loses it."""
import os, select, subprocess, sys, tempfile, termios, time, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vr7"))
from vr7_cases import Simulator

DIGISIM = sys.argv.pop(1)
FRAME = bytes([0xDB, 0x01, 0x0E, 0x71, 0x80, 0xDD])
REPLY = bytes([0xEA, 0x0E, 0x5A, 0x98, 0xDD])


class SimulatorTiming(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        link = os.path.join(self.dir.name, "line")
        self.sim = subprocess.Popen([DIGISIM, "--link", link], stdout=subprocess.DEVNULL)
        self.control = Simulator(link)
        self.line = os.open(link, os.O_RDWR | os.O_NOCTTY)

    def tearDown(self):
        os.close(self.line)
        self.control.sock.close()
        self.sim.terminate()
        self.sim.wait(5)
        self.dir.cleanup()

    def set_baud(self, speed):
        attrs = termios.tcgetattr(self.line)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(self.line, termios.TCSANOW, attrs)

    def exchange(self, flush_output=False):
        """Sends the frame; returns the times of the reply's first and last bytes after it."""
        sent = time.monotonic()
        os.write(self.line, FRAME)
        if flush_output:
            termios.tcflush(self.line, termios.TCOFLUSH)
        got, first = b"", None
        while len(got) < len(REPLY) and time.monotonic() - sent < 1.0:
            chunk = os.read(self.line, 16) if select.select([self.line], [], [], 0.05)[0] else b""
            if chunk and first is None:
                first = time.monotonic() - sent
            got += chunk
        return got, first, time.monotonic() - sent

    def test_replies_no_sooner_than_a_device_could(self):
        for speed, baud in ((termios.B9600, 9600), (termios.B19200, 19200)):
            with self.subTest(baud=baud):
                self.set_baud(speed)
                char_ms = 10 * 1000 / baud
                got, first, last = self.exchange()
                self.assertEqual(got, REPLY)
                self.assertGreaterEqual(first * 1000, 6 * char_ms + 10)  # the frame's wire time, the turnaround
                self.assertGreaterEqual(last * 1000, 10 * char_ms + 10)  # and the reply's, paced

    def test_a_lag_keeps_the_frame_where_a_transmit_purge_loses_it(self):
        self.set_baud(termios.B9600)
        self.control.command("lag 50")
        got, first, _ = self.exchange()
        self.assertEqual(got, REPLY)
        self.assertGreaterEqual(first * 1000, 50)
        self.control.command("lag 50")
        got, _, _ = self.exchange(flush_output=True)
        self.assertEqual(got, b"", "the purged frame still reached the simulator")


if __name__ == "__main__":
    unittest.main()
