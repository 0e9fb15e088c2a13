#!/usr/bin/env python3
"""A printer that answers its first option and then falls silent, as one
switched off mid-way: GetNext requests for names in ROOT.1 (the first
option's sub-tree) are answered, with TEXT at ROOT.1.1.0, an integer at
ROOT.1.2.0 and then an integer at ROOT.2.0 outside that sub-tree, which ends
the walk; every other name gets no answer at all. Answers in the community
asked in.

Usage: first_option_agent.py IPV4 PIDFILE ROOT TEXT   (port 161)
"""
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import Malformed, integer, message, parse_request, tlv  # noqa: E402

GET_NEXT = 0xA1


def main():
    address, pid_file, root_text, text = sys.argv[1:5]
    root = tuple(int(part) for part in root_text.strip(".").split("."))
    answered = root + (1,)
    # In order; the last lies outside the answered sub-tree.
    values = [
        (answered + (1, 0), tlv(0x04, text.encode())),
        (answered + (2, 0), integer(7)),
        (root + (2, 0), integer(0)),
    ]
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
        name = tuple(name)
        if pdu_tag != GET_NEXT or name[:len(answered)] != answered:
            continue
        entry = next(e for e in values if e[0] > name)
        sock.sendto(message(request_id, [entry], community=community), peer)


if __name__ == "__main__":
    main()
