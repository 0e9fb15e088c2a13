#!/usr/bin/env python3
"""An SNMPv3 agent for the WinSNMP tests that does what snmpd will not: it
finds a request outside its time window on purpose. One user, "timeuser",
HMAC-SHA-96 without privacy, password "timepass1"; standard library only.

Engine discovery is answered as snmpd does (a usmStatsUnknownEngineIDs
report with the engine id, boots and time). Then, by the requested name
under .1.3.6.1.4.1.55555.72:
  .1.K...   the first request of K gets an authenticated
            usmStatsNotInTimeWindows report, every later one its answer
  .2.K...   every request gets that report
The answers: GetNext of anything below .N.K gives .N.K.1 "first", .N.K.2
"second", then .9.0 "after" (outside the sub-tree).

Usage: v3_time_agent.py ADDRESS PIDFILE   (port 161)
"""
import hashlib
import hmac
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from snmp_ber import Malformed, integer, oid, parse_oid, read_tlv, tlv  # noqa: E402

ROOT = (1, 3, 6, 1, 4, 1, 55555, 72)
ENGINE_ID = bytes.fromhex("80001f8804767274696d65")
USER = b"timeuser"
USM_STATS = (1, 3, 6, 1, 6, 3, 15, 1, 1)
STARTED = time.monotonic()


def password_key(password, engine_id):
    stretched = (password * (1048576 // len(password) + 1))[:1048576]
    ku = hashlib.sha1(stretched).digest()
    return hashlib.sha1(ku + engine_id + ku).digest()


KEY = password_key(b"timepass1", ENGINE_ID)


def octets(value):
    return tlv(0x04, value)


def message(msg_id, flags, boots, engine_time, user, pdu, key=None):
    """The whole message; with a key, its HMAC-SHA-96 digest filled in."""
    header = tlv(0x30, integer(msg_id) + integer(65507) + octets(bytes([flags])) + integer(3))
    auth = b"\x00" * 12 if key else b""

    def build(digest):
        usm = tlv(0x30, octets(ENGINE_ID) + integer(boots) + integer(engine_time) +
                  octets(user) + octets(digest) + octets(b""))
        scoped = tlv(0x30, octets(ENGINE_ID) + octets(b"") + pdu)
        return tlv(0x30, integer(3) + header + octets(usm) + scoped)

    whole = build(auth)
    if key:
        whole = build(hmac.new(key, whole, hashlib.sha1).digest()[:12])
    return whole


def pdu(tag, request_id, bindings, error=0, index=0):
    varbinds = b"".join(tlv(0x30, oid(name) + value) for name, value in bindings)
    return tlv(tag, integer(request_id) + integer(error) + integer(index) + tlv(0x30, varbinds))


def parse(data):
    """msgID, flags, user, digest, the data with the digest zeroed, the PDU's
    tag, request id and first name."""
    _, body, _ = read_tlv(data, 0)
    offset = len(data) - len(body)
    _, _, pos = read_tlv(body, 0)                                    # version
    _, header, pos = read_tlv(body, pos)
    _, msg_id, hpos = read_tlv(header, 0)
    _, _, hpos = read_tlv(header, hpos)
    _, flags, _ = read_tlv(header, hpos)
    _, usm_wrap, pos = read_tlv(body, pos)
    usm_at = offset + pos - len(usm_wrap)
    _, usm, _ = read_tlv(usm_wrap, 0)
    usm_at += len(usm_wrap) - len(usm)
    upos = 0
    for _ in range(3):                                               # engine, boots, time
        _, _, upos = read_tlv(usm, upos)
    _, user, upos = read_tlv(usm, upos)
    _, digest, upos = read_tlv(usm, upos)
    digest_at = usm_at + upos - len(digest)
    zeroed = data[:digest_at] + b"\x00" * len(digest) + data[digest_at + len(digest):]
    _, scoped, _ = read_tlv(body, pos)
    _, _, spos = read_tlv(scoped, 0)
    _, _, spos = read_tlv(scoped, spos)
    tag, inner, _ = read_tlv(scoped, spos)
    _, request_id, ipos = read_tlv(inner, 0)
    for _ in range(2):
        _, _, ipos = read_tlv(inner, ipos)
    _, varbinds, _ = read_tlv(inner, ipos)
    name = ()
    if varbinds:
        _, first, _ = read_tlv(varbinds, 0)
        _, raw, _ = read_tlv(first, 0)
        name = parse_oid(raw)
    return (int.from_bytes(msg_id, "big"), flags[0], user, digest, zeroed, tag,
            int.from_bytes(request_id, "big", signed=True), name)


def report(msg_id, counter, key=None, user=b""):
    """A report as snmpd sends one: request id 0, matched by its msgID."""
    now = int(time.monotonic() - STARTED) + 1000
    body = pdu(0xA8, 0, [(USM_STATS + (counter, 0), integer(1, 0x41))])
    return message(msg_id, 0x01 if key else 0x00, 1, now, user, body, key)


def answer(name, request_id, msg_id):
    scenario, key = name[len(ROOT)], name[len(ROOT) + 1]
    base = ROOT + (scenario, key)
    rest = name[len(base):]
    if rest < (1,):
        reply = (base + (1,), octets(b"first"))
    elif rest < (2,):
        reply = (base + (2,), octets(b"second"))
    else:
        reply = (ROOT + (9, 0), octets(b"after"))
    now = int(time.monotonic() - STARTED) + 1000
    return message(msg_id, 0x01, 1, now, USER, pdu(0xA2, request_id, [reply]), KEY)


def main():
    address, pid_file = sys.argv[1], sys.argv[2]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, 161))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    reported = set()
    while True:
        data, peer = sock.recvfrom(65535)
        try:
            msg_id, flags, user, digest, zeroed, tag, request_id, name = parse(data)
        except (Malformed, IndexError, ValueError):
            continue
        if not flags & 0x01:
            sock.sendto(report(msg_id, 4), peer)        # discovery
            continue
        if user != USER:
            sock.sendto(report(msg_id, 3), peer)
            continue
        if hmac.new(KEY, zeroed, hashlib.sha1).digest()[:12] != digest:
            sock.sendto(report(msg_id, 5), peer)
            continue
        if name[:len(ROOT)] != ROOT or len(name) < len(ROOT) + 2:
            continue
        scenario, key = name[len(ROOT)], name[len(ROOT) + 1]
        if scenario == 2 or (scenario == 1 and key not in reported):
            reported.add(key)
            sock.sendto(report(msg_id, 2, KEY, USER), peer)
            continue
        sock.sendto(answer(name, request_id, msg_id), peer)


if __name__ == "__main__":
    main()
