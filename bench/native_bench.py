#!/usr/bin/env python3
"""Benchmark of the Linux vr7, natively: detect over one port and over eight side by side,
against simulated digitizers on pseudo-terminals that answer at once (as a device would)
and against silent ones, and the start of vr7 software; then the cost of its look through
/proc for other holders of a port, with 20 processes holding 19,000 descriptors each. Each
figure is the whole command, process start included, as a script sees it. Prints tables;
asserts nothing.
   native_bench.py VR7 DIGISIM"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

VR7, DIGISIM = sys.argv[1:3]
RUNS = 5
# A process holding 19,000 descriptors (of /dev/null), which vr7's look for holders reads.
HOLDER = ('import os, resource, time; resource.setrlimit(resource.RLIMIT_NOFILE, (20000, 20000)); '
          'fds = [os.open("/dev/null", os.O_RDONLY) for _ in range(19000)]; print("ready", flush=True); time.sleep(600)')


def timed(arguments):
    start = time.perf_counter()
    status = subprocess.run([VR7, *arguments], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    return (time.perf_counter() - start) * 1000, status


def behave(links, behaviour):
    for link in links:
        with open(f'{link}.port') as f, socket.create_connection(('127.0.0.1', int(f.read()))) as control:
            control.sendall(f'reset\nbehave {behaviour}\n'.encode())
            while control.recv(64).count(b'OK') < 2:
                pass


def measure(links, behaviour, runs):
    behave(links, behaviour)
    ports = [a for link in links for a in ('--port', link)]
    results = [timed(['detect', '--software', '33', *ports]) for _ in range(runs)]
    return statistics.median(ms for ms, _ in results), results[-1][1]


def scan_cost(link):
    """detect on one answering port and configure on a silent one, without and with 20 other
    processes holding 19,000 descriptors each: vr7 looks through them once per port."""
    def both():
        answering = measure([link], 'reply', RUNS)[0]
        behave([link], 'silence')
        return answering, timed(['configure', '--port', link, '--software', '33'])[0]
    quiet = both()
    holders = [subprocess.Popen([sys.executable, '-c', HOLDER], stdout=subprocess.PIPE) for _ in range(20)]
    try:
        for holder in holders:
            holder.stdout.readline()
        loaded = both()
    finally:
        for holder in holders:
            holder.kill()
            holder.wait()
    print('\n| native vr7 beside 20 processes holding 19,000 descriptors each | without them | with them |\n'
          '|---|---|---|\n'
          f'| detect, one port answering at once (median of 5) | {quiet[0]:.0f} ms | {loaded[0]:.0f} ms |\n'
          f'| configure on a silent port (five attempts) | {quiet[1]:.0f} ms | {loaded[1]:.0f} ms |')


def main():
    with tempfile.TemporaryDirectory() as folder:
        links = [f'{folder}/sim{i}' for i in range(8)]
        simulators = [subprocess.Popen([DIGISIM, '--link', link], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL) for link in links]
        try:
            while not all(os.path.exists(f'{link}.port') for link in links):
                time.sleep(0.05)
            rows = [('digitizers answering at once (median of 5)', 'reply', RUNS),
                    ('no digitizer (five attempts each)', 'silence', 1)]
            print('| native vr7 detect --software 33 (the whole command) | 1 port | 8 ports, side by side | '
                  '8 ports / 1 port |\n|---|---|---|---|')
            for what, behaviour, runs in rows:
                (one, s1), (eight, s8) = measure(links[:1], behaviour, runs), measure(links, behaviour, runs)
                print(f'| {what} | {one:.0f} ms (exit {s1}) | {eight:.0f} ms (exit {s8}) | {eight / one:.2f} |')
            start = statistics.median(timed(['software'])[0] for _ in range(RUNS))
            print(f'| for comparison: native vr7 software, start to end (median of 5) | {start:.1f} ms | | |')
            scan_cost(links[0])
        finally:
            for simulator in simulators:
                simulator.terminate()
                simulator.wait()


main()
