#!/usr/bin/env python3
"""A scripted SNMPv1 agent for the WinSNMP tests: does on purpose what a
real agent will not (wrong request ids, silence, late answers, malformed
datagrams), and reports what it received.

The first variable's name chooses the behaviour. Under .1.3.6.1.4.1.55555:
  .1.KEY...          answer at once: OCTET STRING "ok", the name echoed
  .2.KEY...          answer with the request id plus one ("wrong"), then
                     50 ms later with the right id ("right")
  .3.KEY...          never answer
  .4.KEY.DELAY...    answer only the first datagram, DELAY ms after it came
  .5.KEY...          send malformed datagrams first (garbage, a truncated
                     answer, an oversized one, an indefinite length, too
                     many variables, an SNMPv2c answer), then the answer
  .6.KEY...          answer three times at once, with the request id, plus
                     one and plus two ("burst 0", "burst 1", "burst 2")
  .0.S.KEY...        (GET) the arrival times of the datagrams received for
                     .S.KEY...: OCTET STRING "count:t0,t1,..." in ms after
                     the first one
Requests with a community other than "public" are counted but never
answered, as net-snmp's snmpd does.

Usage: scripted_agent.py ADDRESS PORT PIDFILE
"""
import heapq
import os
import select
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import COMMUNITY, Malformed, message, parse_request, tlv  # noqa: E402

ROOT = (1, 3, 6, 1, 4, 1, 55555)


def malformed_replies(request_id, name):
    good = message(request_id, [(name, tlv(0x04, b"after garbage"))])
    too_many = [(name, tlv(0x05, b""))] * 65
    indefinite = bytes([0x30, 0x80]) + good[2:] + b"\x00\x00"
    oversized = bytes([0x30, 0x83]) + (65507 - 5).to_bytes(3, "big") + b"\xA5" * (65507 - 5)
    return [
        b"\xde\xad\xbe\xef garbage",
        good[:-3],
        oversized,
        indefinite,
        message(request_id, too_many),
        message(request_id, [(name, tlv(0x04, b"v2c"))], version=1),
    ], good


def main():
    address, port, pid_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    sock.bind((address, port))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())

    arrivals = {}           # name -> arrival times (monotonic seconds)
    late_answered = set()
    pending = []            # heap of (due, sequence, datagram, peer)
    sequence = 0

    def later(delay, datagram, peer):
        nonlocal sequence
        sequence += 1
        heapq.heappush(pending, (time.monotonic() + delay, sequence, datagram, peer))

    while True:
        timeout = None
        if pending:
            timeout = max(0.0, pending[0][0] - time.monotonic())
        readable, _, _ = select.select([sock], [], [], timeout)
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, datagram, peer = heapq.heappop(pending)
            sock.sendto(datagram, peer)
        if not readable:
            continue
        data, peer = sock.recvfrom(65535)
        try:
            community, pdu_tag, request_id, name = parse_request(data)
        except (Malformed, IndexError, ValueError):
            continue
        if name[:len(ROOT)] != ROOT or len(name) < len(ROOT) + 2:
            continue
        arrivals.setdefault(name, []).append(now)
        if community != COMMUNITY:
            continue
        scenario = name[len(ROOT)]
        if scenario == 0:
            asked = ROOT + name[len(ROOT) + 1:]
            times = arrivals.get(asked, [])
            text = "%d:%s" % (len(times), ",".join(
                "%d" % round((t - times[0]) * 1000) for t in times))
            sock.sendto(message(request_id, [(name, tlv(0x04, text.encode()))]), peer)
        elif scenario == 1:
            sock.sendto(message(request_id, [(name, tlv(0x04, b"ok"))]), peer)
        elif scenario == 2:
            sock.sendto(message(request_id + 1, [(name, tlv(0x04, b"wrong"))]), peer)
            later(0.05, message(request_id, [(name, tlv(0x04, b"right"))]), peer)
        elif scenario == 4 and len(name) > len(ROOT) + 2:
            if name not in late_answered:
                late_answered.add(name)
                later(name[len(ROOT) + 2] / 1000.0,
                      message(request_id, [(name, tlv(0x04, b"late"))]), peer)
        elif scenario == 5:
            bad, good = malformed_replies(request_id, name)
            for datagram in bad:
                sock.sendto(datagram, peer)
            later(0.05, good, peer)
        elif scenario == 6:
            for i in range(3):
                sock.sendto(message(request_id + i, [(name, tlv(0x04, b"burst %d" % i))]), peer)
        # scenario 3 and anything else: silence


if __name__ == "__main__":
    main()
