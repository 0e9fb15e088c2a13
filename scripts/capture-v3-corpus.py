#!/usr/bin/env python3
"""Captures real SNMPv3 messages between snmpwalk -v3 and net-snmp's snmpd as
seeds for the SNMPv3 decoder's fuzzer (tests/fuzz/corpus-v3/).

Starts snmpd with SNMPv3 users on 127.0.0.77:16177 (a fresh persistent
directory, a fixed engine id) and a relay on 127.0.0.78:161 that passes each
datagram on and saves it: engine discoveries and their reports, requests
and answers at every security level (authPriv enciphered, authNoPriv and
noAuthNoPriv in plain text), and the reports of a wrong password, an
unknown user and a level the user may not use. Stops snmpd by its PID file.

Needs root (port 161), snmpd, snmpwalk and python3. Usage:
    scripts/capture-v3-corpus.py [OUTPUT_DIR]
"""
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time

AGENT = ("127.0.0.77", 16177)
RELAY = ("127.0.0.78", 161)
MAX_PER_RUN = 10            # the first exchanges of each run; later ones add nothing new

CONFIG = """exactEngineID 0x80001f8804636f72707573
createUser shaaes SHA "shaaes-auth" AES "shaaes-priv"
createUser sha256aes SHA-256 "sha256aes-auth" AES "sha256aes-priv"
createUser md5only MD5 "md5only-auth"
createUser plain
rouser shaaes priv
rouser sha256aes priv
rouser md5only auth
rouser plain noauth
sysName corpus-v3
override .1.3.6.1.4.1.55555.1.1.0 octet_str "HDD"
override .1.3.6.1.4.1.55555.1.2.0 counter64 18446744073709551615
override .1.3.6.1.4.1.55555.1.3.0 octet_str "%s"
""" % ("Long text " * 20)

# (name, snmpwalk security arguments, sub-tree)
RUNS = [
    ("sha-aes", ["-l", "authPriv", "-u", "shaaes", "-a", "SHA", "-A", "shaaes-auth",
                 "-x", "AES", "-X", "shaaes-priv"], ".1.3.6.1.4.1.55555"),
    ("sha256-aes", ["-l", "authPriv", "-u", "sha256aes", "-a", "SHA-256", "-A", "sha256aes-auth",
                    "-x", "AES", "-X", "sha256aes-priv"], ".1.3.6.1.2.1.1"),
    ("md5", ["-l", "authNoPriv", "-u", "md5only", "-a", "MD5", "-A", "md5only-auth"],
     ".1.3.6.1.4.1.55555"),
    ("noauth", ["-l", "noAuthNoPriv", "-u", "plain"], ".1.3.6.1.2.1.1"),
    ("wrong-password", ["-l", "authPriv", "-u", "shaaes", "-a", "SHA", "-A", "not-the-one",
                        "-x", "AES", "-X", "shaaes-priv"], ".1.3.6.1.4.1.55555"),
    ("unknown-user", ["-l", "authNoPriv", "-u", "nobody", "-a", "SHA", "-A", "whatever1"],
     ".1.3.6.1.4.1.55555"),
    ("level", ["-l", "authPriv", "-u", "md5only", "-a", "MD5", "-A", "md5only-auth",
               "-x", "AES", "-X", "whatever1"], ".1.3.6.1.4.1.55555"),
]


def relay(output, state, stop):
    outside = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    outside.bind(RELAY)
    inside = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    inside.bind((RELAY[0], 0))
    client = None
    while not stop.is_set():
        readable, _, _ = select.select([outside, inside], [], [], 0.1)
        for sock in readable:
            data, peer = sock.recvfrom(65535)
            if sock is outside:
                client = peer
                inside.sendto(data, AGENT)
                direction = "request"
            elif client is not None:
                outside.sendto(data, client)
                direction = "reply"
            else:
                continue
            state["count"] += 1
            if state["count"] > MAX_PER_RUN:
                continue
            name = "v3-%s-%02d-%s.bin" % (state["run"], state["count"], direction)
            with open(os.path.join(output, name), "wb") as handle:
                handle.write(data)
    outside.close()
    inside.close()


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz", "corpus-v3")
    os.makedirs(output, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="snmp-v3-corpus-")
    config = os.path.join(workdir, "snmpd.conf")
    pidfile = os.path.join(workdir, "snmpd.pid")
    with open(config, "w") as handle:
        handle.write(CONFIG)
    environment = dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(workdir, "persistent"),
                       MIBS="", MIBDIRS="/nonexistent")
    log = open(os.path.join(workdir, "snmpd.log"), "w")
    agent = subprocess.Popen(["snmpd", "-f", "-Lo", "-C", "-c", config, "-p", pidfile,
                              "udp:%s:%d" % AGENT], stdout=log, stderr=log, env=environment)
    state = {"run": "start", "count": 0}
    stop = threading.Event()
    thread = threading.Thread(target=relay, args=(output, state, stop))
    thread.start()
    try:
        time.sleep(1.5)
        for name, arguments, tree in RUNS:
            state["run"], state["count"] = name, 0
            subprocess.run(["snmpwalk", "-v3", "-On", "-t", "1", "-r", "0"] + arguments +
                           ["%s:%d" % RELAY, tree], env=environment,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if state["count"] == 0:
                sys.exit("nothing passed the relay for %s; see %s" % (name, workdir))
    finally:
        stop.set()
        thread.join()
        with open(pidfile) if os.path.exists(pidfile) else open(os.devnull) as handle:
            pid = handle.read().strip()
        if pid:
            os.kill(int(pid), 15)
        agent.wait(timeout=10)
        log.close()
    print("saved %d messages in %s" % (len(os.listdir(output)), os.path.abspath(output)))


if __name__ == "__main__":
    main()
