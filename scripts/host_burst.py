#!/usr/bin/env python3
"""Repeated request bursts against ktx-host, with event readers and idle sockets.

Usage: scripts/host_burst.py [build dir] (default build/linux-x64-release)

Starts ktx-host with its demo on free ports and, for each of three rounds:
eight event-stream readers follow every event, 100 idle sockets sit on the
port without a request, eight workers send a mix of reads and resource changes
(each change is two events) over keep-alive connections. Prints requests per
second, the 99th percentile latency, the events the readers got (of those the
changes made; the plug-in's own events add a few) and the host's resident
memory before and after. On a sanitizer build, run it with
ASAN_OPTIONS=quarantine_size_mb=16, or freed blocks held back count as memory.
"""
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else 'build/linux-x64-release'
WORKERS, EACH, READERS, IDLE, ROUNDS = 8, 500, 8, 100, 3


def rss(pid):
    with open(f'/proc/{pid}/status') as status:
        for line in status:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) * 1024
    return 0


def reader(port, token, counts, index, stop):
    connection = socket.create_connection(('127.0.0.1', port))
    connection.sendall(f'GET /events?token={token} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'.encode())
    connection.settimeout(0.2)
    tail = b''
    while not stop.is_set():
        try:
            data = connection.recv(65536)
        except socket.timeout:
            continue
        if not data:
            break
        joined = tail + data
        counts[index] += joined.count(b'\nevent: ') - tail.count(b'\nevent: ')
        tail = joined[-16:]
    connection.close()


def worker(port, token, latencies, failures):
    connection = http.client.HTTPConnection('127.0.0.1', port)
    headers = {'Authorization': f'Bearer {token}', 'Content-Type': 'application/json'}
    for i in range(EACH):
        start = time.perf_counter()
        if i % 4 == 0:
            connection.request('PUT', '/host/v1/resources/burst/item', json.dumps({'n': i}), headers)
        elif i % 4 == 1:
            connection.request('GET', '/tav-personalized-offers/v1/offers', headers=headers)
        else:
            connection.request('GET', '/host/v1/status', headers=headers)
        response = connection.getresponse()
        response.read()
        latencies.append(time.perf_counter() - start)
        if response.status >= 400:
            failures.append(response.status)


def main():
    folder = tempfile.mkdtemp(prefix='ktx-burst-')
    run_file = os.path.join(folder, 'run.json')
    host = subprocess.Popen([os.path.join(BUILD, 'bin', 'ktx-host'), '--run-file', run_file,
                             '--log-level', '3'], stdout=subprocess.DEVNULL)
    while not os.path.exists(run_file):
        time.sleep(0.05)
    time.sleep(0.2)
    run = json.load(open(run_file))
    port, token = run['port'], run['token']
    try:
        for round_number in range(1, ROUNDS + 1):
            before = rss(host.pid)
            stop = threading.Event()
            counts = [0] * READERS
            readers = [threading.Thread(target=reader, args=(port, token, counts, i, stop))
                       for i in range(READERS)]
            for thread in readers:
                thread.start()
            idle = [socket.create_connection(('127.0.0.1', port)) for _ in range(IDLE)]
            time.sleep(0.3)
            latencies, failures = [], []
            workers = [threading.Thread(target=worker, args=(port, token, latencies, failures))
                       for _ in range(WORKERS)]
            start = time.perf_counter()
            for thread in workers:
                thread.start()
            for thread in workers:
                thread.join()
            elapsed = time.perf_counter() - start
            time.sleep(0.5)
            stop.set()
            for thread in readers:
                thread.join()
            for connection in idle:
                connection.close()
            latencies.sort()
            p99 = latencies[int(len(latencies) * 0.99) - 1] * 1000
            changes = WORKERS * ((EACH + 3) // 4)
            print(f'round {round_number}: {len(latencies)} requests in {elapsed:.2f} s = '
                  f'{len(latencies) / elapsed:.0f}/s, p99 {p99:.1f} ms, failures {len(failures)}, '
                  f'events delivered {sum(counts)} of {2 * changes * READERS}, '
                  f'RSS {before / 2**20:.1f} -> {rss(host.pid) / 2**20:.1f} MiB')
    finally:
        host.terminate()
        host.wait()


if __name__ == '__main__':
    main()
