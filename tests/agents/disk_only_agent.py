#!/usr/bin/env python3
"""A printer that answers its disk and then falls silent: GetNext requests
for names before .1.3.6.1.4.1.55555.10.3 (the hard disk's sub-tree .10.1)
are answered from a one-string MIB; every later name (the finisher and
what follows) gets no answer at all, as from a printer switched off
mid-way.

Usage: disk_only_agent.py IPV4 PIDFILE   (port 161)
"""
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import COMMUNITY, Malformed, integer, message, parse_request, tlv  # noqa: E402

ROOT = (1, 3, 6, 1, 4, 1, 55555, 10)
MIB = [(ROOT + (1, 1, 0), tlv(0x04, b"HDD-52"))]
PAST_DISK = (ROOT + (2, 0), integer(0))
SILENT_FROM = ROOT + (3,)


def main():
    address, pid_file = sys.argv[1], sys.argv[2]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, 161))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    while True:
        data, peer = sock.recvfrom(65535)
        try:
            community, pdu_tag, request_id, name = parse_request(data)
        except (Malformed, IndexError, ValueError):
            continue
        if community != COMMUNITY or pdu_tag != 0xA1 or name >= SILENT_FROM:
            continue
        entry = next((e for e in MIB if e[0] > name), PAST_DISK)
        sock.sendto(message(request_id, [entry]), peer)


if __name__ == "__main__":
    main()
