#!/usr/bin/env python3
"""vr7.exe under Wine against the test rig of fixture.sh: the cases vr7 shares with the
Linux program (tests/vr7/vr7_cases.py) and those of Windows alone (the registry's list of
ports, adapters through SetupAPI, COM names, the stand-in device, the console). The
digitizers are COM3, COM5, COM6, COM12 and COM17; COM7 has a missing device. Run by
ctest, which sets WINEPREFIX, QUILLANE_RUN_DIR, QUILLANE_VR7, QUILLANE_VR7_STANDIN (vr7
with the stand-in device of standin/), QUILLANE_PORT_DEVICE, QUILLANE_PORT_HOLDER
and QUILLANE_WINE."""
import json
import os
import re
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'vr7'))
from vr7_cases import ENV, SharedCases, Simulator, ctrl_c, json_in, on_terminal as terminal_run, run

RUN = os.environ['QUILLANE_RUN_DIR']
VR7 = os.environ['QUILLANE_VR7']
VR7_STANDIN = os.environ['QUILLANE_VR7_STANDIN']
WINE = os.environ['QUILLANE_WINE']
SIMULATED = (3, 5, 6, 12, 17)
SERIALCOMM = r'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'


def vr7(*args, program=VR7, env=ENV):
    return run([WINE, program, *args], env)


def on_terminal(args, until=None, then=None, program=VR7, env=ENV):
    return terminal_run([WINE, program, *args], until, then, env)


def port_device(*args):
    """Registers or removes device nodes of ports through SetupAPI (tests/win/port_device.cpp)."""
    subprocess.run([WINE, os.environ['QUILLANE_PORT_DEVICE'], *args], env=ENV, timeout=60, check=True,
                   stdin=subprocess.DEVNULL, capture_output=True)


def port_holder(test, port, *how):
    """Starts port_holder.cpp, which holds the port until the test ends; returns its Windows PID."""
    proc = subprocess.Popen([WINE, os.environ['QUILLANE_PORT_HOLDER'], port, *how], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=ENV, start_new_session=True)
    for cleanup in (proc.wait, proc.stdout.close, proc.stdin.close):  # run in reverse: the input closed first
        test.addCleanup(cleanup)
    return int(re.match(rb'holding \S+ as PID (\d+)', proc.stdout.readline())[1])


def standin(setting):
    """The environment of vr7's test build with the stand-in device playing these ports."""
    return dict(ENV, QUILLANE_STANDIN=setting)


def serial_ports():
    """The ports Windows lists (an empty key prints no line); a query that fails says so: saved
    as an empty list, it would leave every later test with no port."""
    query = subprocess.run([WINE, 'reg', 'query', SERIALCOMM], capture_output=True, env=ENV, timeout=60)
    if query.returncode != 0:
        raise AssertionError(f'reg query {SERIALCOMM} failed ({query.returncode}): {query.stdout + query.stderr!r}')
    return re.findall(r'^ +(\S+) +REG_SZ +(\S+)\r?$', query.stdout.decode(), re.M)


def set_serial_ports(values):
    """Replaces the ports Windows lists by values, (name, data) pairs, in one regedit run."""
    lines = ['Windows Registry Editor Version 5.00', '', '[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]']
    escape = lambda name: name.replace('\\', '\\\\')
    lines += [f'"{escape(name)}"=-' for name, _ in serial_ports()]
    lines += [f'"{escape(name)}"="{data}"' for name, data in values]
    path = f'{RUN}/vr7-test.reg'
    with open(path, 'w', newline='\r\n') as f:
        f.write('\n'.join(lines) + '\n')
    subprocess.run([WINE, 'regedit', '/S', 'Z:' + path.replace('/', '\\')], capture_output=True, env=ENV, timeout=60,
                   check=True)


class Vr7Test(SharedCases, unittest.TestCase):
    unusable = 'COM7'
    BAD_PORTS = [('COMX', '"COMX" is not a port name'), ('COM0', '"COM0" is not a port name')]

    def setUp(self):
        self.sims = {n: Simulator(f'{RUN}/sim-com{n}') for n in SIMULATED}
        for sim in self.sims.values():
            self.addCleanup(sim.sock.close)
            sim.command('reset')

    @staticmethod
    def port(n):
        return f'COM{n}'

    def vr7(self, *args):
        return vr7(*args)

    def terminal(self, args, until=None, then=None):
        return on_terminal(args, until, then)

    def use_ports(self, *values):
        if not hasattr(self, 'saved_ports'):
            self.saved_ports = serial_ports()
            self.addCleanup(set_serial_ports, self.saved_ports)
        set_serial_ports(values)

    def test_ports_that_cannot_be_used_and_why(self):
        """COM7's device fails its first configuration call; COM8's link leads nowhere; COM11 is
        held by another program whose handle vr7 cannot tell from others (Wine names it by
        its Unix path)."""
        link = f'{os.environ["WINEPREFIX"]}/dosdevices/com8'
        os.symlink(f'{RUN}/absent8', link)
        self.addCleanup(os.remove, link)
        self.use_ports(('a', 'COM7'), ('b', 'COM8'), ('c', 'COM11'))
        port_holder(self, 'COM11', 'exclusive')
        cases = [  # port, the sentence, the JSON status and open error (reason, code)
            ('COM7', 'COM7 cannot be opened: Invalid function, error 1.', 'open-failed', ('other', 1)),
            ('COM8', "COM8 cannot be opened: its device is missing, error 2: the adapter is unplugged", 'open-failed',
             ('missing', 2)),
            ('COM11', 'COM11 is held by another program: close it and try again', 'open-failed', ('busy', 32)),
            ('COM9', r'COM9 does not exist: Windows lists COM7, COM8, COM11\.\r\n$', None, None),
            ('com300', 'COM300 cannot be there: Windows numbers its ports from COM1 to COM255', None, None),
            ('usb:DEAD:beef', 'No listed port is a USB adapter with the ids dead:beef: there is no USB adapter', None,
             None),
        ]
        for port, sentence, json_status, error in cases:
            with self.subTest(port):
                result = vr7('configure', '--port', port, '--software', '33', '--json')
                document = self.json_of(result, 2)
                self.assertEqual(document.get('status'), json_status)
                if error:
                    self.assertEqual((document['openError']['reason'], document['openError']['code']), error)
                self.assertRegex(result.stderr.decode(), sentence)
                self.assertEqual(result.stderr.count(b'\n'), 1, 'one sentence')
        self.assert_nothing_sent()

    def test_the_programs_that_hold_a_port_are_named(self):
        """A holder of COM11 that also has it open by its device name, as Windows names a port's
        handle, is named by each command, in words and in the JSON; then two holders."""
        self.use_ports(('a', 'COM11'))
        pid = port_holder(self, 'COM11', 'exclusive', 'named')
        who = f'port_holder.exe (PID {pid})'
        for args, line, status in ((['configure', '--port', 'COM11', '--software', '33'], f'COM11 is held by {who}: close', 2),
                                   (['detect', '--port', 'COM11', '--software', '33'], f'COM11: cannot be opened (held by {who})', 2),
                                   (['ports', '--test'], f'  cannot be opened: held by {who}\r\n', 0)):
            with self.subTest(args[0]):
                shown = vr7(*args)
                self.assertIn(line, (shown.stdout + shown.stderr).decode())
                document = self.json_of(vr7(*args, '--json'), status)
                error = (document['ports'][0] if 'ports' in document else document)['openError']
                self.assertEqual((error['reason'], error['code'], error['holders']),
                                 ('busy', 32, [{'pid': pid, 'name': 'port_holder.exe'}]))
        both = ', '.join(f'port_holder.exe (PID {n})' for n in sorted((pid, port_holder(self, 'COM11', 'named'))))
        self.assertEqual(vr7('configure', '--port', 'COM11', '--software', '33').stderr.decode(),
                         f'COM11 is held by {both}: close it and try again.\r\n')  # in the order of their PIDs

    def test_each_adapter_named_and_chosen_by_its_ids(self):
        """Adapters registered through SetupAPI as drivers do: vr7 ports names each one, and
        --port usb:... configures the one whose ids fit (COM17 is above COM16)."""
        devices = [  # class, instance id, port, friendly name, manufacturer, hardware id
            ('Ports', r'USB\VID_0403&PID_6001\A50285BI', 'COM5', 'USB Serial Port (COM5)', 'FTDI', ''),
            ('Ports', r'FTDIBUS\VID_0403+PID_6001+FT9XQ2KLA\0000', 'COM12', 'USB Serial Port (COM12)', 'FTDI', ''),
            ('Ports', r'USB\VID_1A86&PID_7523\5&2E1C5A1&0&2', 'COM6', 'USB-SERIAL CH340 (COM6)', 'wch.cn', ''),
            ('Ports', r'USB\VID_2341&PID_0043&MI_00\6&3A757EEC&0&0000', 'COM17', 'Arduino Uno (COM17)', 'Arduino LLC',
             r'USB\VID_2341&PID_0043&REV_0001&MI_00'),
            ('Ports', r'ACPI\PNP0501\1', 'COM3', 'Communications Port (COM3)', '(Standard port types)', ''),
            ('Modem', r'USB\VID_1A86&PID_5523\MODEM1', 'COM3', 'A modem on COM3 (COM3)', 'x', ''),  # a Ports node is first
            ('Ports', r'ROOT\PORTS\0000', 'LPT1', 'Printer Port (LPT1)', '', ''),
            ('Ports', r'BTHENUM\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\7&1A2B&0&0', 'COM40',
             'Standard Serial over Bluetooth link (COM40)', 'Microsoft', ''),
        ]
        self.addCleanup(port_device, 'remove', *[d[1] for d in devices])
        for device in devices:
            port_device('add', *device)
        self.use_ports(('a', 'COM5'), ('b', 'COM12'), ('c', 'COM6'), ('d', 'COM17'), ('e', 'COM3'), ('f', 'COM7'),
                       ('g', 'LPT1'), ('h', 'COM0'))  # the registry's order; not COM ports: left out
        self.assertEqual(vr7('ports').stdout.decode().split('\r\n'), [
            'COM5  USB Serial Port  FTDI  USB 0403:6001 serial A50285BI',
            'COM12  USB Serial Port  FTDI  USB 0403:6001 serial FT9XQ2KL interface A',
            'COM6  USB-SERIAL CH340  wch.cn  USB 1a86:7523',
            'COM17  Arduino Uno  Arduino LLC  USB 2341:0043 interface 00',
            'COM3  Communications Port  (Standard port types)',
            'COM7',
            "COM40  Standard Serial over Bluetooth link  Microsoft  (not in the registry's list of ports)", ''])
        listed = json.loads(vr7('ports', '--test', '--json').stdout)['ports']
        self.assertEqual(listed[0], {'name': 'COM5', 'number': 5, 'description': 'USB Serial Port', 'manufacturer': 'FTDI',
                                     'registry': True, 'byId': None, 'console': False, 'openable': True, 'openError': None,
                                     'usb': {'vid': '0403', 'pid': '6001', 'serial': 'A50285BI', 'interface': None}})
        self.assertEqual([(p['name'], p['registry'], (p['usb'] or {}).get('interface'), p['openable'])
                          for p in listed],
                         [('COM5', True, None, True), ('COM12', True, 'A', True), ('COM6', True, None, True),
                          ('COM17', True, '00', True), ('COM3', True, None, True), ('COM7', True, None, False),
                          ('COM40', False, None, False)])
        for n in SIMULATED:
            self.assertEqual(self.sims[n].holders(), 0, f'COM{n} is left closed')

        for port, chosen in (('usb:0403:6001:a50285bi', 'COM5'), ('USB:1A86:7523', 'COM6'), ('usb:2341:0043', 'COM17')):
            with self.subTest(port):
                for sim in self.sims.values():
                    sim.command('clear')
                result = self.json_of(vr7('configure', '--port', port, '--software', '33', '--json'), 0)
                self.assertEqual(result['port'], chosen)
                self.assertEqual({n: len(sim.frames()) for n, sim in self.sims.items()},
                                 {n: int(f'COM{n}' == chosen) for n in SIMULATED})
        for sim in self.sims.values():
            sim.command('clear')
        several = vr7('configure', '--port', 'usb:0403:6001', '--software', '33')
        self.assertEqual(several.returncode, 64)
        self.assertIn('fits several ports: COM5 (0403:6001 serial A50285BI), COM12 (0403:6001 serial FT9XQ2KL '
                      'interface A)', several.stderr.decode())
        self.assert_nothing_sent()
        result = self.json_of(vr7('detect', '--software', '33', '--port', 'usb:0403:6001', '--port', 'COM17',
                                  '--port', 'com5', '--json'), 0)
        self.assertEqual([(p['port'], p['description'], p['result']) for p in result['ports']],
                         [('COM5', 'USB Serial Port', 'answered'), ('COM12', 'USB Serial Port', 'answered'),
                          ('COM17', 'Arduino Uno', 'answered')])

    def test_help_and_version(self):
        with open(VR7, 'rb') as f:
            image = f.read()
        at = image.find(b'\xbd\x04\xef\xfe')  # the version block's fixed part
        high, low = struct.unpack_from('<II', image, at + 8)
        version = f'{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}'
        self.assertEqual(vr7('--version').stdout.decode(), f'vr7 (quillane VR7) {version}\r\n')
        result = vr7('--help')
        self.assertEqual(result.returncode, 0)
        for command in ('ports', 'software', 'configure', 'detect'):
            self.assertIn(command, result.stdout.decode())
        self.assertIn('Example: vr7 configure --port COM3', vr7('configure', '--help').stdout.decode())

    def test_chinese_labels_byte_exact_in_a_file_and_on_a_console(self):
        redirected = vr7('software').stdout
        self.assertFalse(redirected.startswith(b'\xef\xbb\xbf'), 'no byte-order mark')
        lines = redirected.split(b'\r\n')
        self.assertEqual(len(lines), 52, 'a heading, 50 rows, nothing after the last CR LF')
        self.assertEqual(lines[17], ' 16    11  天虹绣花'.encode())
        self.assertEqual(lines[37], ' 36    25  智尊宝纺(2005/6.5)'.encode())
        rows = json.loads(vr7('software', '--json').stdout)['software']
        self.assertEqual((len(rows), rows[16]['label'], rows[33]), (50, '天虹绣花', {'row': 33, 'label': 'Lectra', 'mode': 14}))

        status, shown = on_terminal(['software'])
        self.assertEqual((status, shown), (0, redirected), 'the console shows the same characters')
        status, shown = on_terminal(['configure', '--port', 'COM3', '--software', '天虹'])
        self.assertEqual(status, 0, shown)
        self.assertIn('Configuring COM3 for 天虹绣花 (row 16, mode code 11)\r\n'.encode(), shown)
        self.assertIn('  2、电脑重启以后请不要打开本软件再次进行设置！\r\n'.encode(), shown)

    def test_ctrl_c_and_a_port_that_is_stuck(self):
        """A port stuck in its open is given up 2 s after Ctrl+C (detect), and a second
        Ctrl+C ends vr7 at once while the open still blocks (configure)."""
        self.use_ports(('a', 'COM5'), ('b', 'COM4'))
        self.sims[5].command('behave silence')
        stuck, started = standin('COM4=stuck-open'), time.monotonic()
        status, shown = on_terminal(['detect', '--software', '33', '--json'], b'blocks for 60 s', ctrl_c,
                                    program=VR7_STANDIN, env=stuck)
        self.assertEqual(status, 130, shown)
        self.assertLess(time.monotonic() - started, 20, 'not held up by the open')
        result = json_in(shown)
        self.assertEqual(result['exitCode'], 130)
        self.assertEqual([(p['port'], p['result']) for p in result['ports']], [('COM5', 'stopped'), ('COM4', 'stopped')])
        self.assertEqual(self.sims[5].holders(), 0)

        seen = []
        def twice(proc):
            ctrl_c(proc)
            time.sleep(1)
            seen.append(proc.poll())
            ctrl_c(proc)
        started = time.monotonic()
        status, shown = on_terminal(['configure', '--port', 'COM4', '--software', '33'], b'blocks for 60 s', twice,
                                    program=VR7_STANDIN, env=stuck)
        self.assertEqual((seen, status), ([None], 130), shown)
        self.assertLess(time.monotonic() - started, 20, 'ended while the open still blocks')

    def test_a_reply_that_is_there_when_the_write_completes_is_kept(self):
        self.use_ports(('a', 'COM4'))
        for run in range(5):
            result = self.json_of(vr7('configure', '--port', 'COM4', '--software', '33', '--json', program=VR7_STANDIN,
                                      env=standin('COM4=quick')), 0)
            self.assertEqual([a['verdict'] for a in result['attempts']], ['valid'], f'run {run + 1}')

    def test_detect_without_a_valid_reply(self):
        cases = [  # listed ports, exit status, lines of the human report
            ([('a', 'COM5'), ('b', 'COM7')], 1,
             ['COM5: no answer (no valid reply in 5 attempts; attempt 5 at 9600 baud, parity N, 8 data bits, 1 stop bit, '
              'received nothing: no reply)', 'COM7: cannot be opened (Invalid function, error 1)',
              'No port answered with a valid reply.']),
            ([('a', 'COM7'), ('b', 'COM7')], 2,
             ['COM7: cannot be opened (Invalid function, error 1)', 'No port answered with a valid reply.']),
            ([], 2, []),
        ]
        self.sims[5].command('behave silence')
        for ports, status, report in cases:
            with self.subTest(ports):
                self.use_ports(*ports)
                result = vr7('detect', '--software', '33')
                self.assertEqual(result.returncode, status, result.stderr.decode())
                self.assertEqual(result.stdout.decode().splitlines()[1:], report)
        self.assertIn('Windows lists no serial port', result.stderr.decode())


if __name__ == '__main__':
    unittest.main(verbosity=2)
