"""What vr7 does alike on every system, as one table of cases for both programs: vr7.exe
under Wine (tests/win/vr7_test.py) and the Linux vr7 (tests/host/vr7_native_test.py).
Each rig supplies the program, the simulated digitizers and how it names their ports;
what differs stays in each rig's own cases.

A test signals vr7's process group, as a terminal's Ctrl+C does: under Wine's 32-bit
build the process started is Wine's launcher and vr7 a second process of its group."""
import json
import os
import pty
import re
import select
import signal
import socket
import subprocess
import termios
import time

# A UTF-8 locale: Wine then reads Chinese arguments and writes the console's text as UTF-8.
ENV = dict(os.environ, LANG='C.UTF-8', LC_ALL='C.UTF-8')
CRASH = b'Unhandled exception'  # Wine's debugger reports a crash, and the status is then 0

LECTRA_FRAME = 'DB 01 0E 71 80 DD'
LECTRA_REPLY = 'EA 0E 5A 98 DD'  # the simulator's valid answer to mode code 14
# The window's run: the line setting of each of its five attempts.
ATTEMPTS = [(9600, 'N'), (9600, 'E'), (19200, 'N'), (9600, 'N'), (9600, 'N')]


class Simulator:
    """The control connection to the simulator whose pty link is `link` (tools/digisim)."""

    def __init__(self, link):
        for _ in range(100):  # a simulator writes it once it has started, its pty linked
            if os.path.exists(f'{link}.port'):
                break
            time.sleep(0.05)
        with open(f'{link}.port') as f:
            self.sock = socket.create_connection(('127.0.0.1', int(f.read())), timeout=10)
        self.file = self.sock.makefile('rw', newline='\n')

    def command(self, line):
        self.file.write(line + '\n')
        self.file.flush()
        data = []
        while True:
            reply = self.file.readline().rstrip('\n')
            if reply == 'OK':
                return data
            if not reply or reply.startswith('ERR'):
                raise AssertionError(f'simulator command {line!r}: {reply!r}')
            data.append(reply)

    def frames(self):
        """(bytes, baud, parity, ms since the simulator started) of every frame received."""
        frames = []
        for line in self.command('frames'):
            m = re.match(r'frame ([0-9A-F ]+) baud=(\d+) parity=(\S) stop=(\d) t=(\d+)$', line)
            frames.append((m[1], int(m[2]), m[3], int(m[5])))
        return frames

    def holders(self):
        return int(self.command('holders')[0].split()[1])


def answer_at_once(sim):
    """Answers the moment the frame has arrived, faster than any wire."""
    sim.command('instant on')
    sim.command('turnaround 0')


def run(command, env=ENV, timeout=60):
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                            env=env, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        raise
    if CRASH in err:
        raise AssertionError(f'{" ".join(command)} crashed: {err.decode(errors="replace")[:2000]}')
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def on_terminal(command, until=None, then=None, env=ENV):
    """Runs the command on a pseudo-terminal (Wine then gives vr7 a console); when the output
    shows `until`, calls then(process). Returns the exit status and the output, without a
    console's cursor escapes. Output processing is off: the bytes are the program's own."""
    master, slave = pty.openpty()
    attrs = termios.tcgetattr(slave)
    attrs[1] &= ~termios.OPOST
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave, env=env, start_new_session=True)
    os.close(slave)
    output, deadline = b'', time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            if select.select([master], [], [], 0.1)[0]:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # EIO: the terminal's last writer has gone
                    chunk = b''
                if not chunk:
                    break
                output += chunk
            elif proc.poll() is not None:
                break
            if until and until in output:
                then(proc)
                until = None
        if CRASH in output:
            raise AssertionError(f'{" ".join(command)} crashed: {output.decode(errors="replace")[:2000]}')
        return proc.wait(timeout=10), re.sub(rb'\x1b\[[0-9;?]*[A-Za-z]', b'', output)
    finally:
        os.close(master)
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)


def ctrl_c(proc):
    """What a terminal's Ctrl+C does: SIGINT to the foreground process group."""
    os.killpg(proc.pid, signal.SIGINT)


def json_in(output):
    """The JSON object in a terminal's output."""
    return json.loads(output[output.index(b'{'):output.rindex(b'}') + 1])


class SharedCases:
    """Cases for a unittest.TestCase of a rig, which supplies: sims (digitizers 3, 5 and 6
    by number), port(n) (the name of digitizer n's port), vr7(*args) (a CompletedProcess),
    terminal(args, until, then) (on_terminal), unusable (a port that cannot be opened) and
    BAD_PORTS (bad port names with their sentences)."""

    def json_of(self, result, status):
        self.assertEqual(result.returncode, status, result.stderr.decode())
        document = json.loads(result.stdout)
        self.assertEqual(document['exitCode'], status)
        return document

    def assert_nothing_sent(self):
        for n, sim in self.sims.items():
            self.assertEqual((sim.command('rx')[0][3:], sim.holders()), ('', 0), f'digitizer {n}')

    def test_configure_against_each_kind_of_digitizer(self):
        cases = [  # simulator commands, exit status, each attempt's verdict and bytes received
            ('answers', [], 0, [('valid', LECTRA_REPLY)]),
            ('silent', ['behave silence'], 1, [('none', '')] * 5),
            ('wrong check sum', ['behave badsum'], 1, [('invalid', 'EA 01 00 00 DD')] * 5),
            ('garbage', ['behave garbage'], 1, [('invalid', '5A A5 00 FF 13')] * 5),
            ('partial reply', ['behave partial'], 1, [('none', 'EA 00')] * 5),
            ('9600 E only', ['only-baud 9600', 'only-parity E'], 0, [('none', ''), ('valid', LECTRA_REPLY)]),
            ('19200 N only', ['only-baud 19200'], 0, [('none', '')] * 2 + [('valid', LECTRA_REPLY)]),
        ]
        sim = self.sims[5]
        for name, commands, status, attempts in cases:
            with self.subTest(name):
                sim.command('reset')
                answer_at_once(sim)
                for command in commands:
                    sim.command(command)
                run = self.vr7('configure', '--port', self.port(5), '--software', '33', '--json')
                self.assertEqual(run.returncode, status, run.stdout.decode() + str(sim.command('frames')))
                result = self.json_of(run, status)
                self.assertEqual(result['status'], 'ok' if status == 0 else 'error')
                self.assertEqual(result['software'], {'row': 33, 'label': 'Lectra', 'mode': 14})
                shown = [(a['attempt'], a['baud'], a['parity'], a['dataBits'], a['stopBits'], a['sent'],
                          a['verdict'], a['received']) for a in result['attempts']]
                self.assertEqual(shown, [(i + 1,) + ATTEMPTS[i] + (8, 1, LECTRA_FRAME) + attempt
                                         for i, attempt in enumerate(attempts)])
                self.assertEqual([f[:3] for f in sim.frames()], [(LECTRA_FRAME,) + a for a in ATTEMPTS[:len(attempts)]])
                self.assertEqual(sim.holders(), 0, 'the port is closed at the end')

    def test_configure_prints_each_attempt_then_the_instructions_and_the_status(self):
        self.sims[5].command('only-baud 19200')
        answer_at_once(self.sims[5])
        result = self.vr7('configure', '--port', self.port(5), '--software', 'geber')
        self.assertEqual(result.returncode, 0, result.stdout.decode() + str(self.sims[5].command('frames')))
        text = result.stdout.decode()
        lines = text.splitlines()
        self.assertEqual(lines[0], f'Configuring {self.port(5)} for GeBer (row 9, mode code 5)')
        self.assertEqual([line for line in lines if line.startswith('Attempt')], [
            'Attempt 1 at 9600 baud, parity N, 8 data bits, 1 stop bit',
            'Attempt 2 at 9600 baud, parity E, 8 data bits, 1 stop bit',
            'Attempt 3 at 19200 baud, parity N, 8 data bits, 1 stop bit'])
        self.assertEqual(lines.count('  sent DB 01 05 72 88 DD'), 3)
        self.assertIn('  received EA 05 5A A1 DD: a valid reply', lines)
        self.assertIn('  注意事项：', lines)
        self.assertEqual(lines[-1], 'Status:OK!')

    def test_bad_usage_ends_with_64_and_one_sentence_and_sends_nothing(self):
        port = self.port(5)
        cases = [  # arguments, what the sentence on standard error says
            *[(f'configure --port {name} --software 33', sentence) for name, sentence in self.BAD_PORTS],
            ('configure --port usb:04031:6001 --software 33', '"usb:04031:6001" is not a USB adapter: give usb:VID:PID'),
            (f'configure --port {port} --software 50', '"50" names no CAD program'),
            (f'configure --port {port} --software Lectrax', '"Lectrax" names no CAD program'),
            (f'configure --port {port} --software Map',
             'fits several CAD programs: Map/Info (row 18), MapCad (row 20), MapGis (row 27)'),
            ('detect --software 天', '天虹绣花 (row 16), 天目 (row 34)'),
            ('configure --software 33', '--port is required'),
            (f'configure --port {port} --software 33 extra', 'extra'),
            ('detect', '--software is required'),
            ('ports --bogus', '--bogus'),
            ('frobnicate', '"frobnicate" is not a command: give one of ports, software, configure or detect'),
            ('', 'A subcommand is required: give one of ports'),
        ]
        for args, sentence in cases:
            for extra in ([], ['--json']):
                with self.subTest(' '.join([args] + extra)):
                    result = self.vr7(*args.split(), *extra)
                    self.assertEqual(result.returncode, 64)
                    self.assertIn(sentence, result.stderr.decode())
                    self.assertEqual(result.stderr.count(b'\n'), 1, 'one sentence')
                    if extra:
                        self.assertEqual(json.loads(result.stdout)['exitCode'], 64)
                    else:
                        self.assertEqual(result.stdout, b'')
        self.assert_nothing_sent()

    def test_ctrl_c_stops_the_runs_and_closes_the_ports(self):
        cases = [  # arguments, what the output shows before Ctrl+C is sent
            (['configure', '--port', self.port(5), '--software', '33'], b'Attempt 2 at'),
            (['detect', '--software', '33', '--port', self.port(5), '--port', self.port(6)], b'side by side'),
        ]
        for args, shown_first in cases:
            with self.subTest(args[0]):
                for sim in self.sims.values():
                    sim.command('reset')
                    sim.command('behave silence')
                sent = []

                def interrupt(proc):
                    time.sleep(1.5)
                    ctrl_c(proc)
                    sent.append(time.monotonic())
                status, shown = self.terminal(args, shown_first, interrupt)
                self.assertEqual(status, 130, shown)
                self.assertLess(time.monotonic() - sent[0], 5, 'the run stops at its next poll or pause')
                self.assertIn(b'Stopped by Ctrl+C', shown)
                self.assertNotIn(b'Status:', shown)
                for n in (5, 6):
                    self.assertEqual(self.sims[n].holders(), 0, f'digitizer {n} is released')
                    self.assertLess(len(self.sims[n].frames()), 4, f'digitizer {n}: no attempts after the stop')

    def test_detect_names_the_port_that_answered_and_what_the_others_did(self):
        self.sims[5].command('behave silence')
        self.sims[6].command('behave badsum')
        ports = [self.port(5), self.port(6), self.port(3), self.unusable]
        result = self.json_of(self.vr7('detect', '--software', 'lectra', '--json',
                                       *[a for p in ports for a in ('--port', p)]), 0)
        self.assertEqual(result['answered'], [self.port(3)])
        self.assertEqual([(p['port'], p['result'], len(p['attempts'])) for p in result['ports']],
                         [(ports[0], 'no-answer', 5), (ports[1], 'wrong-answer', 5), (ports[2], 'answered', 1),
                          (ports[3], 'cannot-open', 0)])
        self.assertEqual(result['ports'][2]['attempts'][0]['received'], LECTRA_REPLY)
        self.assertIsNotNone(result['ports'][3]['openError'])
        frames = {n: self.sims[n].frames() for n in (3, 5, 6)}
        for n, count in ((5, 5), (6, 5), (3, 1)):
            self.assertEqual([f[:3] for f in frames[n]], [(LECTRA_FRAME,) + a for a in ATTEMPTS[:count]], f'{n}')
        # Side by side: the silent port's first frame came at about the time of the others'
        # (one after the other, the next port would start about 8 s later).
        first = [frames[n][0][3] for n in (5, 6, 3)]
        self.assertLess(max(first) - min(first), 2000)
