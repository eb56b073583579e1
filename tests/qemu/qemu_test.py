#!/usr/bin/env python3
"""The Linux vr7 on real kernel serial drivers: Debian's kernel under QEMU (TCG) with its console
on ttyS0, a 16550 UART (ttyS1) and an FTDI adapter (ttyUSB0), each wired to a simulated digitizer
on the host. Commands typed on the guest's console run vr7; their output is checked against what
each simulator received and the line settings and DTR/RTS changes QEMU made (line_log.c).
Run by ctest: qemu_test.py VR7 DIGISIM LINE_LOG HOLD_PORT CACHE (exit 77: QEMU cannot start here)."""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'vr7'))
from vr7_cases import LECTRA_FRAME, Simulator, json_in

VR7, DIGISIM, LINE_LOG, HOLD_PORT, CACHE = sys.argv[1:6]
del sys.argv[1:6]
QEMU = 'qemu-system-x86_64'
PORTS = {'/dev/ttyS1': 'uart', '/dev/ttyUSB0': 'usb'}  # guest device: simulator and chardev name
CONSOLE = '/dev/ttyS0'


def qemu_cannot_start():
    """Why QEMU cannot start at all on this machine, or None (a QEMU not installed is a failure:
    scripts/deps.sh installs it)."""
    try:
        probe = subprocess.run([QEMU, '-machine', 'none', '-nodefaults', '-display', 'none', '-monitor', 'stdio'],
                               input=b'quit\n', capture_output=True, timeout=60)
    except subprocess.TimeoutExpired as error:
        return str(error)
    return None if probe.returncode == 0 else probe.stderr.decode(errors='replace').strip()


class Guest:
    """QEMU running the guest; its console is this process's pipe to QEMU."""

    def __init__(self, folder, links, cleanup):
        subprocess.run(['sh', os.path.join(HERE, 'guest.sh'), CACHE, VR7, HOLD_PORT], check=True)
        self.log, self.console, self.lines = f'{folder}/line.log', b'', {}
        open(self.log, 'w').close()
        devices = [a for name, link in links.items() for a in ('-chardev', f'serial,id={name},path={link}')]
        self.proc = subprocess.Popen(
            [QEMU, '-accel', 'tcg', '-m', '256', '-nodefaults', '-display', 'none', '-no-reboot',
             '-kernel', f'{CACHE}/vmlinuz', '-initrd', f'{CACHE}/initramfs', '-append', 'console=ttyS0 quiet panic=-1',
             '-serial', 'stdio', *devices, '-device', 'isa-serial,index=1,chardev=uart',
             '-device', 'qemu-xhci', '-device', 'usb-serial,chardev=usb,serial=KIT0001'],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            env=dict(os.environ, LD_PRELOAD=os.path.abspath(LINE_LOG), LINE_LOG=self.log))
        cleanup(self.proc.wait)
        cleanup(self.proc.kill)  # the guest has nothing to save
        self.expect(rb'@@guest ready\r?\n', 0, 120)

    def expect(self, pattern, start, timeout):
        deadline = time.monotonic() + timeout
        while not (found := re.search(pattern, self.console[start:], re.S)):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise AssertionError(f'the guest did not show {pattern!r}; its console:\n{self.text()}')
            if select.select([self.proc.stdout], [], [], 0.5)[0]:
                self.console += os.read(self.proc.stdout.fileno(), 65536)
        return found

    def text(self):
        return self.console.replace(b'\r\n', b'\n').decode(errors='replace')

    def run(self, line, timeout=60):
        """Runs a shell line in the guest: (status, output, [(device, dtr, rts)] each change
        of the modem lines QEMU made meanwhile, [(device, data bits)] each line setting)."""
        start, logged = len(self.console), os.path.getsize(self.log)
        self.proc.stdin.write(line.encode() + b'\n')
        self.proc.stdin.flush()
        found = self.expect(rb'@@begin\r?\n(.*?)@@end (\d+)\r?\n', start, timeout)
        with open(self.log) as f:
            f.seek(logged)
            entries = [entry.split() for entry in f.read().splitlines()]
        changes, settings = [], []
        for _, device, what, *values in entries:
            if what == 'line':
                settings.append((device, int(values[0][5:])))
                continue
            was, asked = self.lines.get(device, (0, 0)), [int(v[4:]) for v in values]
            new = tuple(a if what == 'set' else w | a if what == 'raise' else w & ~a for w, a in zip(was, asked))
            if new != was:
                changes.append((device, *new))
            self.lines[device] = new
        return int(found[2]), found[1].replace(b'\r\n', b'\n').decode(errors='replace'), changes, settings


class QemuTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='vr7-qemu-')
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        links = {name: f'{cls.folder}/{name}' for name in PORTS.values()}
        for link in links.values():
            simulator = subprocess.Popen([DIGISIM, '--link', link])
            cls.addClassCleanup(simulator.wait, timeout=10)
            cls.addClassCleanup(simulator.terminate)
        cls.sims = {port: Simulator(links[name]) for port, name in PORTS.items()}
        cls.pty = {port: os.path.realpath(links[name]) for port, name in PORTS.items()}
        cls.guest = Guest(cls.folder, links, cls.addClassCleanup)

    def setUp(self):
        for sim in self.sims.values():
            sim.command('reset')

    def vr7(self, *args, status, holder=None):
        """Runs vr7 in the guest (held by hold_port: holder = (way, device)) and checks its exit
        status: (its JSON, its whole output, the modem-line changes, the line settings)."""
        line = (f'hold_port {holder[0]} {holder[1]} ' if holder else '') + 'vr7 ' + ' '.join(args)
        shown, output, changes, settings = self.guest.run(line)
        self.assertEqual(shown, status, f'{line}:\n{output}')
        document = json_in(output.encode())
        self.assertEqual(document['exitCode'], status, output)
        return document, output, changes, settings

    def rises(self, changes, port):
        return len([change for change in changes if change[0] == self.pty[port] and change[1]])

    def ports_of(self, document):
        return {entry['name']: entry for entry in document['ports']}

    def test_ports_are_listed_from_sysfs_without_opening_them(self):
        status, types, _, _ = self.guest.run('cat /sys/class/tty/ttyS2/type /sys/class/tty/ttyS3/type')
        self.assertEqual((status, types.split()), (0, ['0', '0']), 'ttyS2 and ttyS3 are there, with no UART')
        document, output, changes, _ = self.vr7('ports', '--json', status=0)
        ports = self.ports_of(document)
        self.assertEqual(sorted(ports), sorted([CONSOLE, *PORTS]), output)
        self.assertLessEqual({'vid': '0403', 'pid': '6001', 'serial': 'KIT0001'}.items(), ports['/dev/ttyUSB0']['usb'].items())
        self.assertEqual({name: port['console'] for name, port in ports.items()},
                         {CONSOLE: True, '/dev/ttyS1': False, '/dev/ttyUSB0': False})
        self.assertEqual(changes, [], 'listing changes no DTR or RTS')

    def test_configure_reaches_the_digitizer_at_parity_e_on_the_uart_and_the_adapter(self):
        for port, sim in self.sims.items():
            with self.subTest(port):
                sim.command('only-parity E')
                document, output, changes, settings = self.vr7('configure', '--port', port, '--software', '33',
                                                               '--json', status=0)
                self.assertEqual([(a['attempt'], a['verdict']) for a in document['attempts']],
                                 [(1, 'none'), (2, 'valid')], output)
                self.assertEqual([f[:3] for f in sim.frames()], [(LECTRA_FRAME, 9600, 'N'), (LECTRA_FRAME, 9600, 'E')])
                self.assertEqual({bits for device, bits in settings if device == self.pty[port]}, {8})
                self.assertEqual(self.rises(changes, port), 2, f'DTR rises once per attempt: {changes}')
                self.assertEqual([c for c in changes if c[0] != self.pty[port]], [], 'the other port is untouched')

    def test_a_port_another_process_holds_is_named_its_lock_kept_and_nothing_sent(self):
        for port in PORTS:
            for way in ('flock', 'excl'):
                with self.subTest(port=port, way=way):
                    document, output, _, _ = self.vr7('configure', '--port', port, '--software', '33', '--json',
                                                      status=2, holder=(way, port))
                    pid = int(re.search(r'holding (\d+)', output)[1])
                    error = document['openError']
                    self.assertEqual((error['reason'], error['holders']), ('busy', [{'pid': pid, 'name': 'hold_port'}]))
                    self.assertIn('still held 1', output, "the holder's lock is still set afterwards")
                    self.assertEqual((self.sims[port].command('rx'), self.sims[port].frames()), (['rx'], []))

    def test_the_console_is_never_written_or_reconfigured(self):
        status, before, _, _ = self.guest.run(f'stty -g -F {CONSOLE}')
        self.assertEqual(status, 0, before)
        console = {'reason': 'console', 'code': None}
        with self.subTest('detect skips it'):
            # HeYing's frame holds a 0x0A: it must reach the digitizers as it is.
            document, output, _, _ = self.vr7('detect', '--software', '23', '--json', status=0)
            ports = {entry['port']: entry for entry in document['ports']}
            for port, sim in self.sims.items():
                sent = ports[port]['attempts'][0]['sent']
                self.assertIn(' 0A ', sent)
                self.assertEqual((ports[port]['result'], [f[:3] for f in sim.frames()]), ('answered', [(sent, 9600, 'N')]))
            self.assertEqual((ports[CONSOLE]['result'], ports[CONSOLE]['attempts']), ('skipped', []), output)
            self.assertLessEqual(console.items(), ports[CONSOLE]['openError'].items(), output)
        with self.subTest('ports --test does not open it, and leaves the others as it found them'):
            found = {port: self.guest.run(f'stty -F {port} 4800 cs7 ixon; stty -g -F {port}')[1] for port in PORTS}
            document, output, changes, _ = self.vr7('ports', '--test', '--json', status=0)
            ports = self.ports_of(document)
            for port in PORTS:
                self.assertTrue(ports[port]['openable'], output)
                self.assertLessEqual(self.rises(changes, port), 1, f'one open at most: {changes}')
                self.assertEqual(self.guest.run(f'stty -g -F {port}')[1], found[port], f'{port} keeps its settings')
            self.assertFalse(ports[CONSOLE]['openable'], output)
            self.assertLessEqual(console.items(), ports[CONSOLE]['openError'].items(), output)
        with self.subTest('configure refuses it'):
            document, output, _, _ = self.vr7('configure', '--port', CONSOLE, '--software', '33', '--json', status=2)
            self.assertLessEqual(console.items(), document['openError'].items(), output)
        self.assertEqual(self.guest.run(f'stty -g -F {CONSOLE}')[1], before, 'the console keeps its settings')
        self.assertNotIn(bytes.fromhex('DB 01'), self.guest.console, 'no frame on the console')


if __name__ == '__main__':
    reason = qemu_cannot_start()
    if reason:
        print(f'skipped: QEMU cannot start on this machine: {reason}')
        sys.exit(77)
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful() and hasattr(QemuTest, 'guest'):
        print('--- the guest console\n' + QemuTest.guest.text())
    sys.exit(0 if result.wasSuccessful() else 1)
