#!/usr/bin/env python3
"""Captures real SNMP responses from net-snmp's snmpd as seeds for the BER
decoder's fuzzer (tests/fuzz/corpus/).

Starts snmpd on its own loopback address with a config of ours, sends
hand-built GetNext and Get requests over UDP and saves every reply's payload
as one file. SNMPv1 replies are saved as they come. Counter64 values and the
exception values (noSuchObject, noSuchInstance, endOfMibView) only travel in
SNMPv2c replies: those are saved as they come too (v2c-*), and once more with
the version byte set to 0 (v2c-as-v1-*) so that they reach past the decoder's
version check. Stops snmpd by its PID file.

Needs root (port 161), snmpd and python3. Usage:
    scripts/capture-snmp-corpus.py [OUTPUT_DIR]
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

# The message helpers are the test agents'; no compiled copy in the checkout.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "agents"))
from snmp_ber import message, parse_message, read_tlv, tlv  # noqa: E402

ADDRESS = "127.0.0.77"
PORT = 161

CONFIG = """rocommunity public 127.0.0.0/8
sysName corpus-agent
sysLocation Lab bench, rack 2
sysContact ops@example.invalid
override .1.3.6.1.4.1.55555.1.1.0 integer -12345
override .1.3.6.1.4.1.55555.1.2.0 integer 2147483647
override .1.3.6.1.4.1.55555.1.3.0 octet_str "HDD"
override .1.3.6.1.4.1.55555.1.4.0 octet_str ""
override .1.3.6.1.4.1.55555.1.5.0 counter 4294967295
override .1.3.6.1.4.1.55555.1.6.0 unsigned 2147483648
override .1.3.6.1.4.1.55555.1.7.0 timeticks 123456
override .1.3.6.1.4.1.55555.1.8.0 object_id .1.3.6.1.4.1.55555.4294967295
override .1.3.6.1.4.1.55555.1.9.0 integer -2147483648
override .1.3.6.1.4.1.55555.1.10.0 octet_str "%s"
override .1.3.6.1.4.1.55555.1.11.0 object_id .1.3.6.1.4.1.55555.%s
""" % ("Long text " * 20, ".".join(str(4294967295 - n) for n in range(121)))
# The last two make replies that need long-form lengths, and an OID of the
# most sub-identifiers (128) both we and snmpd take.

# (file name prefix, SNMP version on the wire, PDU tag, start OIDs, steps)
# A walk repeats GetNext from the last name returned; a Get sends once.
REQUESTS = [
    ("v1-walk-ours", 0, 0xA1, ["1.3.6.1.4.1.55555"], 12),
    ("v1-walk-system", 0, 0xA1, ["1.3.6.1.2.1.1"], 10),
    ("v1-walk-ipaddr", 0, 0xA1, ["1.3.6.1.2.1.4.20.1.1"], 2),
    ("v1-walk-opaque", 0, 0xA1, ["1.3.6.1.4.1.2021.10.1.6"], 1),
    ("v1-get-three", 0, 0xA0, ["1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.3.0",
                               "1.3.6.1.4.1.55555.1.8.0"], 1),
    ("v1-getnext-system-scalars", 0, 0xA1, ["1.3.6.1.2.1.1.%d" % n for n in range(1, 8)], 1),
    ("v1-getnext-64-bindings", 0, 0xA1, ["1.3.6.1.4.1.55555"] * 64, 1),
    ("v1-get-missing", 0, 0xA0, ["1.3.6.1.2.1.1.5.0", "1.3.6.1.4.1.55555.9.0"], 1),
    ("v1-getnext-past-end", 0, 0xA1, ["1.3.6.1.4.1.55555.2"], 1),
    ("v2c-walk-counter64", 1, 0xA1, ["1.3.6.1.2.1.31.1.1.1.6"], 2),
    ("v2c-get-exceptions", 1, 0xA0, ["1.3.6.1.4.1.55555.9.0", "1.3.6.1.2.1.1.5.7",
                                     "1.3.6.1.2.1.1.5.0"], 1),
    ("v2c-getnext-end-of-view", 1, 0xA1, ["2.1"], 1),
]


def build_request(version, pdu_tag, request_id, oids):
    bindings = [(tuple(int(part) for part in text.split(".")), tlv(0x05, b""))
                for text in oids]
    return message(request_id, bindings, version=version, pdu_tag=pdu_tag)


def exchange(sock, request):
    for _ in range(3):
        sock.sendto(request, (ADDRESS, PORT))
        try:
            reply, _ = sock.recvfrom(65535)
            return reply
        except socket.timeout:
            continue
    return None


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz", "corpus")
    os.makedirs(output, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="snmp-corpus-")
    config = os.path.join(workdir, "snmpd.conf")
    pidfile = os.path.join(workdir, "snmpd.pid")
    with open(config, "w") as handle:
        handle.write(CONFIG)
    log = open(os.path.join(workdir, "snmpd.log"), "w")
    agent = subprocess.Popen(["snmpd", "-f", "-Lo", "-C", "-c", config, "-p", pidfile,
                              "udp:%s:%d" % (ADDRESS, PORT)], stdout=log, stderr=log)
    saved = 0
    try:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.settimeout(1.0)
        # Wait for the agent to answer at all.
        deadline = time.time() + 15
        while exchange(sock, build_request(0, 0xA0, 1, ["1.3.6.1.2.1.1.5.0"])) is None:
            if time.time() > deadline or agent.poll() is not None:
                sys.exit("snmpd did not answer; see %s" % workdir)
        request_id = 1000
        for prefix, version, pdu_tag, oids, steps in REQUESTS:
            names = list(oids)
            for step in range(steps):
                request_id += 1
                reply = exchange(sock, build_request(version, pdu_tag, request_id, names))
                if reply is None:
                    sys.exit("no reply to %s step %d" % (prefix, step))
                path = os.path.join(output, "%s-%02d.bin" % (prefix, step))
                with open(path, "wb") as handle:
                    handle.write(reply)
                saved += 1
                if version == 1:
                    # The version INTEGER is 02 01 01 right after the
                    # message header.
                    start = len(reply) - len(read_tlv(reply, 0)[1])
                    as_v1 = bytearray(reply)
                    as_v1[start + 2] = 0
                    name = "%s-%02d.bin" % (prefix.replace("v2c-", "v2c-as-v1-"), step)
                    with open(os.path.join(output, name), "wb") as handle:
                        handle.write(as_v1)
                    saved += 1
                _, _, _, status, name = parse_message(reply)
                if status != 0:
                    break
                names = [".".join(str(arc) for arc in name)]
    finally:
        with open(pidfile) if os.path.exists(pidfile) else open(os.devnull) as handle:
            pid = handle.read().strip()
        if pid:
            os.kill(int(pid), 15)
        agent.wait(timeout=10)
        log.close()
    print("saved %d replies in %s" % (saved, os.path.abspath(output)))


if __name__ == "__main__":
    main()
