#!/usr/bin/env python3
"""An agent that answers the first option's sub-tree of the end-to-end tests'
map (.1.3.6.1.4.1.55555.20.1) and stays silent for every other name: the
printer whose second walk times out.

Usage: half_agent.py ADDRESS PIDFILE
"""
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import Malformed, message, parse_request, tlv  # noqa: E402

ROOT = (1, 3, 6, 1, 4, 1, 55555, 20)
ANSWERED = ROOT + (1,)
# In order; the last one lies outside the answered sub-tree and ends its walk.
VALUES = [
    (ANSWERED + (1, 0), tlv(0x04, b"HDD only")),
    (ANSWERED + (2, 0), tlv(0x02, b"\x07")),
    (ROOT + (2, 1, 0), tlv(0x04, b"never reached")),
]
GET_NEXT = 0xA1


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
        print("request", pdu_tag, name, flush=True)
        if pdu_tag != GET_NEXT or tuple(name[:len(ANSWERED)]) != ANSWERED:
            continue
        for next_name, value in VALUES:
            if next_name > tuple(name):
                sock.sendto(message(request_id, [(next_name, value)], community=community), peer)
                break


if __name__ == "__main__":
    main()
