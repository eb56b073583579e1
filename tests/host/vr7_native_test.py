#!/usr/bin/env python3
"""The Linux vr7, natively, against simulated digitizers on pseudo-terminals: the cases it
shares with vr7.exe under Wine (tests/vr7/vr7_cases.py) and those of Linux alone (a port
another process holds, named with who holds it; permission denied; COM names refused;
SIGTERM; LF line ends). Run by ctest: vr7_native_test.py VR7 DIGISIM."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'vr7'))
from vr7_cases import SharedCases, Simulator, on_terminal, run

VR7, DIGISIM = sys.argv.pop(1), sys.argv.pop(1)
DIGITIZERS = (3, 5, 6)
# A process that holds the port the way its code says, then prints "ready" and waits.
HOLD = {
    'open': 'import sys, time; f = open(sys.argv[1], "rb", buffering=0); print("ready", flush=True); time.sleep(60)',
    'flock': 'import fcntl, sys, time; f = open(sys.argv[1], "rb", buffering=0); fcntl.flock(f, fcntl.LOCK_EX); '
             'print("ready", flush=True); time.sleep(60)',
    'exclusive': 'import fcntl, sys, termios, time; f = open(sys.argv[1], "rb", buffering=0); '
                 'fcntl.ioctl(f, termios.TIOCEXCL); print("ready", flush=True); time.sleep(60)',
}


def as_nobody(command):
    return ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups', *command]


class NativeTest(SharedCases, unittest.TestCase):
    BAD_PORTS = [('COM3', '"COM3" is a Windows port name: on Linux give the device\'s path'),
                 ('/dev/null', '"/dev/null" is not a serial device (a tty)')]

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='vr7-native-')
        cls.simulators = [subprocess.Popen([DIGISIM, '--link', f'{cls.folder}/sim{n}'], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL) for n in DIGITIZERS]
        for n in DIGITIZERS:
            for _ in range(100):
                if os.path.exists(f'{cls.folder}/sim{n}.port'):
                    break
                time.sleep(0.05)
        cls.unusable = f'{cls.folder}/absent'

    @classmethod
    def tearDownClass(cls):
        for simulator in cls.simulators:
            simulator.terminate()
            simulator.wait(timeout=10)
        shutil.rmtree(cls.folder)

    def setUp(self):
        self.sims = {n: Simulator(self.port(n)) for n in DIGITIZERS}
        for sim in self.sims.values():
            self.addCleanup(sim.sock.close)
            sim.command('reset')

    def port(self, n):
        return f'{self.folder}/sim{n}'

    def vr7(self, *args, program=()):
        return run([*program, VR7, *args])

    def terminal(self, args, until=None, then=None):
        return on_terminal([VR7, *args], until, then)

    def hold(self, way, path):
        holder = subprocess.Popen([sys.executable, '-c', HOLD[way], path], stdout=subprocess.PIPE)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), b'ready\n')
        return holder

    def assert_busy(self, result, holders, sentence):
        error = self.json_of(result, 2)['openError']
        self.assertEqual((error['reason'], error['holders']), ('busy', holders))
        self.assertIn(sentence, result.stderr.decode())
        self.assertEqual(self.sims[5].command('rx'), ['rx'], 'nothing sent')

    def test_a_port_another_process_holds_is_named_and_nothing_is_sent(self):
        device = os.path.realpath(self.port(5))
        sleeper = subprocess.Popen(['sleep', '60'])
        self.addCleanup(sleeper.wait)
        self.addCleanup(sleeper.kill)
        lock = f'/run/lock/LCK..{device[len("/dev/"):].replace("/", "_")}'
        self.addCleanup(lambda: os.path.exists(lock) and os.remove(lock))
        for way in ('open', 'flock', 'lock file'):
            with self.subTest(way):
                if way == 'lock file':
                    with open(lock, 'w') as f:
                        f.write(f'{sleeper.pid:10d}\n')
                    holder = sleeper
                else:
                    holder = self.hold(way, device)
                with open(f'/proc/{holder.pid}/comm') as f:
                    name = f.read().strip()
                result = self.vr7('configure', '--port', self.port(5), '--software', '33', '--json')
                self.assert_busy(result, [{'pid': holder.pid, 'name': name}],
                                 f'{self.port(5)} is held by {name} (PID {holder.pid}): close it and try again.')
                if way != 'lock file':
                    holder.kill()
                    holder.wait()
        os.remove(lock)
        result = self.json_of(self.vr7('configure', '--port', self.port(5), '--software', '33', '--json'), 0)
        self.assertEqual((result['port'], result['device']), (self.port(5), device))

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which('setpriv'), 'needs root, to run vr7 as another user')
    def test_what_root_would_bypass_as_an_unprivileged_user(self):
        """Permission denied names the group to join; a port held with TIOCEXCL by a process
        this user cannot see is busy, and says how to find who holds it."""
        device = os.path.realpath(self.port(5))
        mode = os.stat(device).st_mode
        self.addCleanup(os.chmod, device, mode)
        os.chmod(device, 0o620)
        result = self.vr7('configure', '--port', device, '--software', '33', '--json', program=as_nobody([]))
        error = self.json_of(result, 2)['openError']
        group = subprocess.run(['stat', '-c', '%G', device], capture_output=True, text=True).stdout.strip()
        self.assertEqual((error['reason'], error['group']), ('denied', group))
        self.assertIn(f'join the group {group} (sudo usermod -aG {group} $USER), then log out and in again',
                      result.stderr.decode())
        os.chmod(device, 0o666)
        self.hold('exclusive', device)
        result = self.vr7('configure', '--port', device, '--software', '33', '--json', program=as_nobody([]))
        self.assert_busy(result, [], f"held by another user's process (see: sudo fuser {device})")

    def test_linux_line_ends_and_sigterm(self):
        self.assertNotIn(b'\r', self.vr7('software').stdout)
        ports = json.loads(self.vr7('ports', '--json').stdout)['ports']
        self.assertFalse([p for p in ports if p['name'].startswith('/dev/pts/')], 'pseudo-terminals are never listed')
        self.sims[5].command('behave silence')
        status, shown = self.terminal(['configure', '--port', self.port(5), '--software', '33'], b'Attempt 2 at',
                                      lambda proc: os.killpg(proc.pid, signal.SIGTERM))
        self.assertEqual(status, 143, shown)
        self.assertIn(b'Stopped by SIGTERM', shown)


if __name__ == '__main__':
    unittest.main(verbosity=2)
