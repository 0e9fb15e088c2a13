#!/usr/bin/env python3
"""A UDP relay on the loopback that holds every datagram DELAY_MS in each
direction, a slow link without a kernel module (scripts/bench-wan.sh).
Each client gets an upstream socket of its own, so that the agent's replies
find their way back. The datagrams forwarded so far, requests and replies,
are written to STATS_FILE ("requests replies") after each one.

Usage: udp-delay-relay.py LISTEN_ADDRESS AGENT_ADDRESS PORT DELAY_MS STATS_FILE PID_FILE
"""
import heapq
import os
import select
import socket
import sys
import time


def main():
    listen_address, agent_address, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    delay = int(sys.argv[4]) / 1000.0
    stats_file, pid_file = sys.argv[5], sys.argv[6]
    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind((listen_address, port))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    upstream = {}           # client address -> its socket towards the agent
    client_of = {}          # that socket -> the client address
    pending = []            # heap of (due, sequence, socket, datagram, destination)
    counts = [0, 0]         # requests, replies forwarded
    sequence = 0

    def hold(sock, datagram, destination):
        nonlocal sequence
        sequence += 1
        heapq.heappush(pending, (time.monotonic() + delay, sequence, sock, datagram, destination))

    def write_stats():
        with open(stats_file + ".new", "w") as f:
            f.write("%d %d\n" % (counts[0], counts[1]))
        os.replace(stats_file + ".new", stats_file)

    write_stats()
    while True:
        timeout = None
        if pending:
            timeout = max(0.0, pending[0][0] - time.monotonic())
        readable, _, _ = select.select([front] + list(client_of), [], [], timeout)
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, sock, datagram, destination = heapq.heappop(pending)
            sock.sendto(datagram, destination)
            counts[0 if sock is not front else 1] += 1
            write_stats()
        for sock in readable:
            datagram, source = sock.recvfrom(65535)
            if sock is front:
                out = upstream.get(source)
                if out is None:
                    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    out.bind((listen_address, 0))
                    upstream[source] = out
                    client_of[out] = source
                hold(out, datagram, (agent_address, port))
            else:
                hold(front, datagram, client_of[sock])


if __name__ == "__main__":
    main()
