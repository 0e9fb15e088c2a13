#!/usr/bin/env python3
"""An SNMPv1 agent for the query engine's tests: a small fixed MIB walked
with GetNext, and sub-trees that misbehave on purpose. Every datagram is
logged per sub-tree, so a walk of the stats sub-tree tells the tests how
many requests came, when, and with which request ids.

Under .1.3.6.1.4.1.55555 (the first variable's name decides):
  .20.X...     the fixed MIB (see MIB below); after its last object a
               GetNext gets noSuchName, as an SNMPv1 agent does at the end
  .21.K...     answers every GetNext with the same name .21.K.1 (a name
               that does not advance)
  .22.K.n      answers GetNext(.22.K.n) with .22.K.(n+1): never leaves
  .23.K...     first three wrong answers (another request id, another
               community, from another port), then the right one
  .25.K...     first a PDU that is not a Response, the answer 300 ms later
  .26.K...     never answers
  .27.K...     answers twice, the same answer 30 ms apart; the GetNext after
               it 100 ms late, so that the copy comes while that one waits
  .28.K...     first a PDU that is not a Response; 200 ms later a flood of
               300 answers with other request ids, then the right answer
  .29.K...     at once an answer with another community and a PDU that is
               not a Response, the right answer 8 s later
  .30.S...     answers the first GetNext with a string, the next with
               error status S (its name echoed), as an agent that refuses
SNMPv2c GetBulk (non-repeaters 0) is answered where the name says so:
  .20.X...     the fixed MIB, max-repetitions objects per answer, then
               endOfMibView for each repetition left
  .31.K...     ten strings t1..t10; more than 4 repetitions asked: tooBig
  .32.K...     an SNMPv1-only agent: answers a GetBulk with an SNMPv1
               Response (genErr); .33.K... drops every SNMPv2c message
  .0.A.B...    the datagrams logged under .A.B: .0.A.B.1 = their number,
               then .0.A.B.2.i = "ms/request id" of the first 15 (ms after
               the first datagram). Walking .0.A.B.1 clears the log.
Requests with a community other than "public" are logged, not answered.

Usage: engine_agent.py IPV4 PIDFILE [LINKLOCAL%ZONE]   (port 161 on IPV4, on
[::1] and on the link-local address if given, since the engine always asks
port 161; the "other port" socket is IPV4:162)
"""
import heapq
import os
import select
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import (COMMUNITY, Malformed, integer, message, oid,  # noqa: E402
                      parse_request, read_tlv, tlv)

ROOT = (1, 3, 6, 1, 4, 1, 55555)


def octets(value):
    return tlv(0x04, value)


def number(value):
    return integer(value)


MIB = sorted([
    # s1, i1, s2, i2, s3
    (ROOT + (20, 1, 1), octets(b"s1")),
    (ROOT + (20, 1, 2), number(1)),
    (ROOT + (20, 1, 3), octets(b"s2")),
    (ROOT + (20, 1, 4), number(2)),
    (ROOT + (20, 1, 5), octets(b"s3")),
    # 100 bytes, a NUL as fifth byte, an empty string, then one more
    (ROOT + (20, 2, 1), octets(bytes(range(0x21, 0x21 + 100)))),
    (ROOT + (20, 2, 2), octets(b"abcd\x00efgh")),
    (ROOT + (20, 2, 3), octets(b"")),
    (ROOT + (20, 2, 4), octets(b"\x00starts with NUL")),
    (ROOT + (20, 2, 5), octets(b"\x01\x7f\x92\xff raw")),
    # twenty strings
] + [(ROOT + (20, 3, i), octets(b"v%02d" % i)) for i in range(1, 21)] + [
    # every other syntax stores nothing
    (ROOT + (20, 4, 1), oid((1, 3, 6, 1))),
    (ROOT + (20, 4, 2), tlv(0x40, bytes([10, 1, 2, 3]))),
    (ROOT + (20, 4, 3), integer(7, 0x41)),
    (ROOT + (20, 4, 4), integer(8, 0x42)),
    (ROOT + (20, 4, 5), integer(9, 0x43)),
    (ROOT + (20, 4, 6), tlv(0x44, b"opaque")),
    (ROOT + (20, 4, 7), integer(10, 0x46)),
    (ROOT + (20, 4, 8), tlv(0x05, b"")),
    (ROOT + (20, 4, 9), octets(b"only text")),
    # the end of the MIB
    (ROOT + (20, 99, 1), octets(b"last1")),
    (ROOT + (20, 99, 2), octets(b"last2")),
])


def next_in_mib(name, mib=MIB):
    for entry in mib:
        if entry[0] > name:
            return entry
    return None


def bulk_fields(data):
    """Version and max-repetitions (the error index) of a request."""
    _, body, _ = read_tlv(data, 0)
    _, version, pos = read_tlv(body, 0)
    _, _, pos = read_tlv(body, pos)
    _, pdu, _ = read_tlv(body, pos)
    _, _, pos = read_tlv(pdu, 0)
    _, _, pos = read_tlv(pdu, pos)
    _, repetitions, _ = read_tlv(pdu, pos)
    return int.from_bytes(version, "big"), int.from_bytes(repetitions, "big", signed=True)


def bulk_answer(name, repetitions, mib):
    """The next repetitions objects after name, endOfMibView past the end."""
    bindings = []
    for _ in range(max(repetitions, 0)):
        entry = next_in_mib(name, mib)
        if entry is None:
            bindings.append((name, tlv(0x82, b"")))
        else:
            bindings.append(entry)
            name = entry[0]
    return bindings


def main():
    v4, pid_file = sys.argv[1], sys.argv[2]
    main4 = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    main4.bind((v4, 161))
    other4 = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    other4.bind((v4, 162))
    # [::1]:161 may be taken (a system snmpd listens there by default): then
    # say so beside the PID file, for the IPv6 test to skip with the reason.
    unavailable6 = os.path.join(os.path.dirname(os.path.abspath(pid_file)),
                                "engine-ipv6-unavailable")
    sockets = [main4]
    try:
        main6 = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
        main6.bind(("::1", 161))
        sockets.append(main6)
        if os.path.exists(unavailable6):
            os.remove(unavailable6)
    except OSError as error:
        with open(unavailable6, "w") as f:
            f.write("cannot serve [::1]:161: %s\n" % error)
    # The link-local address when asked for; a failure is told beside the
    # PID file, for the link-local tests to skip with the reason.
    if len(sys.argv) > 3:
        unavailable_ll = os.path.join(os.path.dirname(os.path.abspath(pid_file)),
                                      "linklocal-unavailable")
        try:
            info = socket.getaddrinfo(sys.argv[3], 161, socket.AF_INET6, socket.SOCK_DGRAM)
            linklocal = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
            linklocal.bind(info[0][4])
            sockets.append(linklocal)
        except OSError as error:
            with open(unavailable_ll, "w") as f:
                f.write("cannot serve [%s]:161: %s\n" % (sys.argv[3], error))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())

    log = {}                # (A, B) -> [(time, request id)]
    snapshots = {}          # (A, B) -> the log as the last stats walk took it
    pending = []            # heap of (due, sequence, socket, datagram, peer)
    sequence = 0

    def later(delay, sock, datagram, peer):
        nonlocal sequence
        sequence += 1
        heapq.heappush(pending, (time.monotonic() + delay, sequence, sock, datagram, peer))

    while True:
        timeout = None
        if pending:
            timeout = max(0.0, pending[0][0] - time.monotonic())
        readable, _, _ = select.select(sockets, [], [], timeout)
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, sock, datagram, peer = heapq.heappop(pending)
            sock.sendto(datagram, peer)
        for sock in readable:
            data, peer = sock.recvfrom(65535)
            try:
                community, pdu_tag, request_id, name = parse_request(data)
            except (Malformed, IndexError, ValueError):
                continue
            if name[:len(ROOT)] != ROOT or len(name) < len(ROOT) + 2:
                continue
            key = name[len(ROOT):len(ROOT) + 2]
            if key[0] != 0:
                log.setdefault(key, []).append((now, request_id))
            if community == COMMUNITY and pdu_tag == 0xA5:
                version, repetitions = bulk_fields(data)
                scenario = name[len(ROOT)]
                if version != 1 or scenario == 33:
                    continue
                if scenario == 20:
                    bindings = bulk_answer(name, repetitions, MIB)
                    sock.sendto(message(request_id, bindings, version=1), peer)
                elif scenario == 31 and repetitions > 4:
                    sock.sendto(message(request_id, [(name, tlv(0x05, b""))], version=1,
                                        error=1), peer)
                elif scenario == 31:
                    base = ROOT + key
                    tens = [(base + (i,), octets(b"t%d" % i)) for i in range(1, 11)]
                    tens.append((ROOT + (32,), number(0)))
                    sock.sendto(message(request_id, bulk_answer(name, repetitions, tens),
                                        version=1), peer)
                elif scenario == 34:
                    # The same object whatever was asked: no progress.
                    sock.sendto(message(request_id, [(ROOT + key + (1,), octets(b"n1"))],
                                        version=1), peer)
                elif scenario == 35:
                    # SNMPv1's end of the view, in an SNMPv2c answer.
                    sock.sendto(message(request_id, [(name, tlv(0x05, b""))], version=1,
                                        error=2, index=1), peer)
                elif scenario == 32:
                    sock.sendto(message(request_id, [(name, tlv(0x05, b""))], error=5,
                                        index=1), peer)
                continue
            if community != COMMUNITY or pdu_tag != 0xA1:
                continue

            def answer(bindings, error=0, index=0, rid=request_id, comm=COMMUNITY, tag=0xA2):
                return message(rid, bindings, community=comm, error=error, index=index,
                               pdu_tag=tag)

            scenario = name[len(ROOT)]
            base = ROOT + key
            if scenario == 0 and len(name) >= len(ROOT) + 3:
                asked = (name[len(ROOT) + 1], name[len(ROOT) + 2])
                stats_root = ROOT + (0,) + asked
                after = name[len(stats_root):]
                if after == ():
                    snapshots[asked] = log.pop(asked, [])
                    count = len(snapshots[asked])
                    sock.sendto(answer([(stats_root + (1,), octets(b"%d" % count))]), peer)
                else:
                    entries = snapshots.get(asked, [])
                    index = after[1] + 1 if after[:1] == (2,) and len(after) > 1 else 1
                    if index <= len(entries) and index <= 15:
                        t, rid = entries[index - 1]
                        text = b"%d/%d" % (round((t - entries[0][0]) * 1000), rid)
                        sock.sendto(answer([(stats_root + (2, index), octets(text))]), peer)
                    else:
                        sock.sendto(answer([(ROOT + (1,), number(0))]), peer)
            elif scenario == 20:
                entry = next_in_mib(name)
                if entry is None:
                    sock.sendto(answer([(name, tlv(0x05, b""))], error=2, index=1), peer)
                else:
                    sock.sendto(answer([entry]), peer)
            elif scenario == 21:
                sock.sendto(answer([(base + (1,), octets(b"n1"))]), peer)
            elif scenario == 22:
                last = name[len(base)] if len(name) > len(base) else 0
                sock.sendto(answer([(base + (last + 1,), number(last))]), peer)
            elif scenario == 23:
                if len(name) == len(base):
                    inside = base + (1,)
                    sock.sendto(answer([(inside, octets(b"wrong id"))], rid=request_id + 1),
                                peer)
                    sock.sendto(answer([(inside, octets(b"wrong context"))],
                                       comm=b"private"), peer)
                    if sock is main4:
                        other4.sendto(answer([(inside, octets(b"wrong source"))]), peer)
                    later(0.05, sock, answer([(inside, octets(b"right"))]), peer)
                else:
                    sock.sendto(answer([(ROOT + (24,), number(0))]), peer)
            elif scenario == 25:
                if len(name) == len(base):
                    sock.sendto(answer([(base, tlv(0x05, b""))], tag=0xA0), peer)
                    later(0.3, sock, answer([(base + (1,), octets(b"late"))]), peer)
                else:
                    sock.sendto(answer([(ROOT + (26,), number(0))]), peer)
            elif scenario == 26:
                pass
            elif scenario == 29:
                if len(name) == len(base):
                    sock.sendto(answer([(base + (1,), octets(b"wrong"))], comm=b"private"), peer)
                    sock.sendto(answer([(base, tlv(0x05, b""))], tag=0xA0), peer)
                    later(8.0, sock, answer([(base + (1,), octets(b"late"))]), peer)
                else:
                    sock.sendto(answer([(ROOT + (30,), number(0))]), peer)
            elif scenario == 28:
                if len(name) == len(base):
                    sock.sendto(answer([(base, tlv(0x05, b""))], tag=0xA0), peer)
                    for i in range(300):
                        later(0.2, sock, answer([(base + (1,), octets(b"stray"))],
                                                rid=request_id + 1000 + i), peer)
                    later(0.3, sock, answer([(base + (1,), octets(b"right"))]), peer)
                else:
                    sock.sendto(answer([(ROOT + (29,), number(0))]), peer)
            elif scenario == 30:
                if len(name) == len(base):
                    sock.sendto(answer([(base + (1,), octets(b"before"))]), peer)
                else:
                    sock.sendto(answer([(name, tlv(0x05, b""))], error=key[1], index=1), peer)
            elif scenario == 27:
                if len(name) == len(base):
                    reply = answer([(base + (1,), octets(b"dup"))])
                    sock.sendto(reply, peer)
                    later(0.03, sock, reply, peer)
                else:
                    later(0.1, sock, answer([(ROOT + (28,), number(0))]), peer)


if __name__ == "__main__":
    main()
