#!/usr/bin/env python3
"""An SNMPv3 agent for the WinSNMP tests that does what snmpd will not: it
finds requests outside its time window on purpose, and answers wrongly in
the ways an attacker or a broken agent would. Standard library only (AES-128
is written out below). Its users:
  timeuser   HMAC-SHA-96, no privacy, password "timepass1"
  time256    HMAC-SHA-256-192, no privacy, password "timepass256"
  timepriv   HMAC-SHA-96 and AES-128, passwords "timepriv-auth", "timepriv-priv"
  timeplain  noAuthNoPriv
Its engine boots are 5 and its time starts at 1000, and it checks the time
window of every authenticated request as an agent must (an authenticated
usmStatsNotInTimeWindows report when outside). Engine discovery is answered
as snmpd does. Then, by the requested name under .1.3.6.1.4.1.55555.72.N.K
(K: a key of the test's choosing), scenario N:
   1  the first request of K gets an authenticated usmStatsNotInTimeWindows
      report, every later one its answer
   2  every request gets that report
   3  the answer's digest has one bit flipped
   4  the answer's digest has 11 bytes;  5  of 13 bytes
   6  the answer comes without authentication (noAuthNoPriv)
   7  the answer comes authenticated but not encrypted (for timepriv)
   8  the answer names another engine (and is authenticated for it)
   9  the first request of K gets an unauthenticated usmStatsNotInTimeWindows
      report, every later one its answer
  10  the walk's second request (.10.K.1) gets, once, an unauthenticated
      usmStatsUnknownEngineIDs report naming another engine
  11  the answer is authentic but 200 s old
  12  the answer is authentic but from the boots before (a replay)
  13  the answer is authentic with boots 2147483647, and every request of it
      is answered so, whatever its boots and time (a client that took those
      boots would walk on)
  14  the answer to K's first request shows the clock 1000 s ahead (for
      good); a later request of K behind that clock is dropped without a
      report
  15  the first request of K gets an unauthenticated usmStatsUnknownUserNames
      report whose message id is not the request's, every later one its answer
  16  the answer's digest has its last byte changed
  17  the answer's salt has 7 bytes;  18  9 bytes
  19  the answer's context name is not empty;  20  its context engine id foreign
  21  the first request of K is dropped without a word; a resend is answered
      only when its message id, and its salt when encrypted, are new
  22  the answer names another user
  23  the walk's second request (.23.K.1) gets, once, an unauthenticated
      usmStatsNotInTimeWindows report, then (its retry) an authenticated one,
      then its answer: the one resynchronisation is for the authentic one
  other N: the answer as it should be.
The answers: GetNext of anything below .N.K gives .N.K.1 "first", .N.K.2
"second", then .99.0 "after" (outside the sub-tree).

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
FOREIGN_ENGINE_ID = bytes.fromhex("80001f880466666f726569676e")
USM_STATS = (1, 3, 6, 1, 6, 3, 15, 1, 1)
BOOTS = 5
STARTED = time.monotonic()
clock_offset = 1000
WINDOW = 150


def _xtime(a):
    return ((a << 1) ^ 0x1B) & 0xFF if a & 0x80 else a << 1


def _make_sbox():
    sbox = [0] * 256
    p = q = 1
    while True:
        p ^= _xtime(p)
        q ^= q << 1
        q ^= q << 2
        q ^= q << 4
        q &= 0xFF
        if q & 0x80:
            q ^= 0x09
        x = q
        for shift in range(1, 5):
            x ^= ((q << shift) | (q >> (8 - shift))) & 0xFF
        sbox[p] = x ^ 0x63
        if p == 1:
            break
    sbox[0] = 0x63
    return sbox


SBOX = _make_sbox()


def aes128_block(key, block):
    """One AES-128 encryption (FIPS 197)."""
    words = [list(key[i:i + 4]) for i in range(0, 16, 4)]
    rcon = 1
    for i in range(4, 44):
        t = list(words[i - 1])
        if i % 4 == 0:
            t = [SBOX[b] for b in t[1:] + t[:1]]
            t[0] ^= rcon
            rcon = _xtime(rcon)
        words.append([a ^ b for a, b in zip(words[i - 4], t)])
    s = [b ^ k for b, k in zip(block, sum(words[0:4], []))]
    for rnd in range(1, 11):
        s = [SBOX[b] for b in s]
        s = [s[(i + 4 * (i % 4)) % 16] for i in range(16)]
        if rnd < 10:
            mixed = []
            for c in range(4):
                a = s[4 * c:4 * c + 4]
                t = a[0] ^ a[1] ^ a[2] ^ a[3]
                mixed += [a[i] ^ t ^ _xtime(a[i] ^ a[(i + 1) % 4]) for i in range(4)]
            s = mixed
        s = [b ^ k for b, k in zip(s, sum(words[4 * rnd:4 * rnd + 4], []))]
    return bytes(s)


def aes128_cfb(key, iv, data, decrypt):
    """AES-128 in 128-bit cipher feedback, as SNMPv3 privacy uses it."""
    out = bytearray()
    feedback = iv
    for i in range(0, len(data), 16):
        chunk = data[i:i + 16]
        result = bytes(a ^ b for a, b in zip(chunk, aes128_block(key, feedback)))
        out += result
        feedback = (chunk if decrypt else result).ljust(16, b"\0")
    return bytes(out)


def localized_key(digest, password, engine_id):
    stretched = (password * (1048576 // len(password) + 1))[:1048576]
    ku = digest(stretched).digest()
    return digest(ku + engine_id + ku).digest()


class User:
    def __init__(self, digest, mac_size, password, priv_password=None, authenticated=True):
        self.digest, self.mac_size = digest, mac_size
        self.authenticated = authenticated
        self.auth_key = localized_key(digest, password, ENGINE_ID)
        self.foreign_key = localized_key(digest, password, FOREIGN_ENGINE_ID)
        self.priv_key = localized_key(digest, priv_password, ENGINE_ID)[:16] if priv_password else None

    def mac(self, key, data):
        return hmac.new(key, data, self.digest).digest()[:self.mac_size]


USERS = {b"timeuser": User(hashlib.sha1, 12, b"timepass1"),
         b"time256": User(hashlib.sha256, 24, b"timepass256"),
         b"timepriv": User(hashlib.sha1, 12, b"timepriv-auth", b"timepriv-priv"),
         b"timeplain": User(hashlib.sha1, 12, b"no-password", authenticated=False)}


def now():
    return int(time.monotonic() - STARTED) + clock_offset


def octets(value):
    return tlv(0x04, value)


def message(msg_id, flags, boots, engine_time, user_name, scoped, user=None, engine=ENGINE_ID,
            mac_size=None, salt=b"", digest_change=None):
    """The whole message; with a user and the authentication flag, its digest
    filled in (under the key for engine), then changed as asked."""
    header = tlv(0x30, integer(msg_id) + integer(65507) + octets(bytes([flags])) + integer(3))
    authenticated = user is not None and flags & 0x01
    if mac_size is None:
        mac_size = user.mac_size if authenticated else 0

    def build(digest):
        usm = tlv(0x30, octets(engine) + integer(boots) + integer(engine_time) +
                  octets(user_name) + octets(digest) + octets(salt))
        return tlv(0x30, integer(3) + header + octets(usm) + scoped)

    whole = build(b"\x00" * mac_size)
    if authenticated:
        key = user.auth_key if engine == ENGINE_ID else user.foreign_key
        digest = user.mac(key, whole)
        digest = (digest + digest)[:mac_size]
        if digest_change:
            digest = digest_change(digest)
        whole = build(digest)
    return whole


def pdu(tag, request_id, bindings, error=0, index=0):
    varbinds = b"".join(tlv(0x30, oid(name) + value) for name, value in bindings)
    return tlv(tag, integer(request_id) + integer(error) + integer(index) + tlv(0x30, varbinds))


def scoped_pdu(body, context_engine=ENGINE_ID, context_name=b""):
    return tlv(0x30, octets(context_engine) + octets(context_name) + body)


class Request:
    pass


def parse(data):
    """The request's fields, its digest checked by the caller on .zeroed."""
    q = Request()
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
    _, q.engine, upos = read_tlv(usm, 0)
    _, boots, upos = read_tlv(usm, upos)
    _, engine_time, upos = read_tlv(usm, upos)
    _, q.user, upos = read_tlv(usm, upos)
    _, q.digest, upos = read_tlv(usm, upos)
    digest_at = usm_at + upos - len(q.digest)
    _, q.salt, _ = read_tlv(usm, upos)
    q.zeroed = data[:digest_at] + b"\x00" * len(q.digest) + data[digest_at + len(q.digest):]
    q.msg_id = int.from_bytes(msg_id, "big")
    q.flags = flags[0]
    q.boots = int.from_bytes(boots, "big")
    q.time = int.from_bytes(engine_time, "big")
    q.data = body[pos:]
    return q


def read_scoped(q, user):
    """The PDU's tag, request id and first name, deciphered when encrypted."""
    data = q.data
    if q.flags & 0x02:
        _, cipher, _ = read_tlv(data, 0)
        iv = q.boots.to_bytes(4, "big") + q.time.to_bytes(4, "big") + q.salt
        data = aes128_cfb(user.priv_key, iv, cipher, True)
    _, scoped, _ = read_tlv(data, 0)
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
    return tag, int.from_bytes(request_id, "big", signed=True), name


def report(msg_id, counter, user=None, user_name=b"", engine=ENGINE_ID):
    """A report as snmpd sends one: request id 0, matched by its msgID;
    authenticated when a user is given."""
    body = pdu(0xA8, 0, [(USM_STATS + (counter, 0), integer(1, 0x41))])
    return message(msg_id, 0x01 if user else 0x00, BOOTS, now(), user_name,
                   scoped_pdu(body, engine), user, engine)


def encrypt(user, boots, engine_time, salt, scoped):
    iv = boots.to_bytes(4, "big") + engine_time.to_bytes(4, "big") + salt[:8].ljust(8, b"\0")
    return octets(aes128_cfb(user.priv_key, iv, scoped, False))


def answer(q, user, scenario, key, name, request_id, salt_counter):
    base = ROOT + (scenario, key)
    rest = name[len(base):]
    if rest < (1,):
        reply = (base + (1,), octets(b"first"))
    elif rest < (2,):
        reply = (base + (2,), octets(b"second"))
    else:
        reply = (ROOT + (99, 0), octets(b"after"))
    boots, engine_time = BOOTS, now()
    if scenario == 11:
        engine_time -= 200
    elif scenario == 12:
        boots -= 1
    elif scenario == 13:
        boots = 2147483647
    context_engine = FOREIGN_ENGINE_ID if scenario == 20 else ENGINE_ID
    scoped = scoped_pdu(pdu(0xA2, request_id, [reply]), context_engine,
                        b"other" if scenario == 19 else b"")
    flags = 0x01 if user.authenticated else 0x00
    salt = b""
    if user.priv_key and scenario != 7:
        flags = 0x03
        salt = salt_counter.to_bytes(8, "big")
        scoped = encrypt(user, boots, engine_time, salt, scoped)
        salt = {17: salt[:7], 18: salt + b"\x01"}.get(scenario, salt)
    if scenario == 6:
        flags = 0x00
    change = {3: lambda d: bytes([d[0] ^ 0x80]) + d[1:],
              16: lambda d: d[:-1] + bytes([d[-1] ^ 0x01])}.get(scenario)
    return message(q.msg_id, flags, boots, engine_time, q.user + (b"x" if scenario == 22 else b""),
                   scoped, user,
                   FOREIGN_ENGINE_ID if scenario == 8 else ENGINE_ID,
                   {4: 11, 5: 13}.get(scenario), salt, change)


def main():
    global clock_offset
    address, pid_file = sys.argv[1], sys.argv[2]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, 161))
    with open(pid_file, "w") as f:
        f.write("%d\n" % os.getpid())
    reported = set()
    first_sent = {}
    once_count = {}
    salt_counter = 0x5A17
    while True:
        data, peer = sock.recvfrom(65535)
        try:
            q = parse(data)
        except (Malformed, IndexError, ValueError):
            continue
        user = USERS.get(q.user)
        plain = user is not None and not user.authenticated and not q.flags & 0x03
        if not q.flags & 0x01 and not (plain and q.engine == ENGINE_ID):
            sock.sendto(report(q.msg_id, 4), peer)        # discovery
            continue
        if user is None:
            sock.sendto(report(q.msg_id, 3), peer)
            continue
        if not plain and (q.engine != ENGINE_ID or user.mac(user.auth_key, q.zeroed) != q.digest):
            sock.sendto(report(q.msg_id, 5), peer)
            continue
        try:
            tag, request_id, name = read_scoped(q, user)
        except (Malformed, IndexError, ValueError):
            continue
        if name[:len(ROOT)] != ROOT or len(name) < len(ROOT) + 2:
            continue
        scenario, key = name[len(ROOT)], name[len(ROOT) + 1]
        in_window = plain or scenario == 13 or (q.boots == BOOTS and abs(q.time - now()) <= WINDOW)
        if not in_window:
            if scenario != 14 or (scenario, key) not in reported:
                sock.sendto(report(q.msg_id, 2, user, q.user), peer)
            continue
        once = (scenario, key)
        if scenario == 2 or (scenario in (1, 9, 15, 10) and once not in reported and
                             (scenario != 10 or len(name) > len(ROOT) + 2)):
            reported.add(once)
            if scenario in (1, 2):
                sock.sendto(report(q.msg_id, 2, user, q.user), peer)
            elif scenario == 9:
                sock.sendto(report(q.msg_id, 2), peer)
            elif scenario == 10:
                sock.sendto(report(q.msg_id, 4, engine=FOREIGN_ENGINE_ID), peer)
            else:
                sock.sendto(report(q.msg_id + 1, 3), peer)
            continue
        if scenario == 23 and len(name) > len(ROOT) + 2 and once_count.get(key, 0) < 2:
            once_count[key] = once_count.get(key, 0) + 1
            if once_count[key] == 1:
                sock.sendto(report(q.msg_id, 2), peer)
            else:
                sock.sendto(report(q.msg_id, 2, user, q.user), peer)
            continue
        if scenario == 21:
            first = first_sent.setdefault((scenario, key), (q.msg_id, q.salt))
            if q.msg_id == first[0] or (q.salt and q.salt == first[1]):
                continue
        if scenario == 14 and (scenario, key) not in reported:
            reported.add((scenario, key))
            clock_offset += 1000
        salt_counter += 1
        sock.sendto(answer(q, user, scenario, key, name, request_id, salt_counter), peer)


if __name__ == "__main__":
    main()
