#!/usr/bin/env python3
"""VRAutoDetect.exe from end to end under Wine: the printers of
tests/prefix/detect.reg against the end-to-end tests' agents (snmpd on
127.0.0.55, the hard-disk-only agent on 127.0.0.56), the engine's agent
(127.0.0.44, whose .30.5 answers once and then refuses with genErr) and the
SNMPv3 tests' snmpd (127.0.0.71, its users and a community).
Each case: the exit code, the outcome words, and what was written: with
--write the exact bytes of the seven values, those that the dialog's own
end-to-end tests pin for the same agents.

Usage: test_detect.py PROGRAM SCRATCH_DIR AGENT_DIR... (exit 77: skipped)"""
import json
import os
import runpy
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

program, scratch, agent_dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
here = os.path.dirname(os.path.abspath(__file__))
# The export reader of the demonstration's value table.
read_export = runpy.run_path(os.path.join(here, "..", "..", "scripts", "printer-values.py"))[
    "read_export"]
prefix = os.environ["VR_WINE_PREFIX"]
env = {k: v for k, v in os.environ.items() if not k.startswith("VR_SNMP_")}
env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
for d in agent_dirs:
    if os.path.exists(os.path.join(d, "unavailable")):
        print("skipped: " + open(os.path.join(d, "unavailable")).read())
        sys.exit(77)

PRINTERS = r"HKLM\System\CurrentControlSet\Control\Print\Printers"
E = "1.3.6.1.4.1.55555.20."
MAP = {"HardDisk": E + "1", "RAMDisk": E + "1", "3000Finisher": E + "2",
       "PunchingUnit": E + "3", "CassetteTwo": E + "4"}
# The engine agent: odd bytes under .20.2, a refusal under .30.5.
REFUSING_MAP = dict(MAP, HardDisk=E + "2", RAMDisk=E + "2", **{"3000Finisher": "1.3.6.1.4.1.55555.30.5"})
NO_PUNCH = {k: v for k, v in MAP.items() if k != "PunchingUnit"}
DETECTED = {"QV_AutoCfgDisk": b"HDD 320 GB\0RAM 2 GB\0\0", "QV_AutoCfgFinisher": b"SR3000\0\0",
            "QV_AutoCfgPunchUnit": b"\0", "QV_AutoCfgCassettes": b"Tray 2\0LCT\0\0",
            "QV_AutoCfgSuccess": b"\x01", "QV_AutoComName": b"vrtest", "QV_AutoTimeOut": b"6"}
OLD = b"old\0\0"
HALF = {"QV_AutoCfgDisk": b"HDD only\0\0", "QV_AutoCfgFinisher": OLD, "QV_AutoCfgPunchUnit": OLD,
        "QV_AutoCfgCassettes": OLD, "QV_AutoCfgSuccess": b"\x00", "QV_AutoComName": b"vrtest",
        "QV_AutoTimeOut": b"1"}
SILENT = {"QV_AutoCfgSuccess": b"\x00", "QV_AutoComName": b"wrong", "QV_AutoTimeOut": b"1"}
NO_ANSWER = "no answer: printer off, wrong address, or a community the agent does not accept"
PORT = ["--printer", "VRDetect Port"]
# SNMPv3: the same printer over a user or the community; its values stored
# either way.
V = "1.3.6.1.4.1.55555.71."
V3_MAP = {"HardDisk": V + "1", "RAMDisk": V + "1", "3000Finisher": V + "1.3",
          "PunchingUnit": V + "2.1", "CassetteTwo": V + "2.2"}
V3 = ["--printer", "VRDetect V3", "--timeout", "1"]
SHA_AES = ["--v3-user", "shaaes", "--v3-auth", "SHA", "--v3-priv", "AES"]
V3_VALUES = {"QV_AutoCfgDisk": b"HDD 500 GB\0Finisher SR-71\0\0",
             "QV_AutoCfgFinisher": b"Finisher SR-71\0\0",
             "QV_AutoCfgPunchUnit": b"Punching unit\0\0",
             "QV_AutoCfgCassettes": b"Cassette 2\0\0", "QV_AutoCfgSuccess": b"\x01",
             "QV_AutoTimeOut": b"1"}
SHAAES = {"env": {"VR_SNMP_AUTH_PASSWORD": "shaaes-auth", "VR_SNMP_PRIV_PASSWORD": "shaaes-priv"}}
# Stored by another tool: longer than the program reads or writes.
LONG_COMMUNITY = "kept-" + "c" * 65
SECRETS = ["shaaes-auth", "shaaes-priv", "privonly-auth", "md5aes-auth", "md5aes-priv",
           "wrong-auth1"]
secrets_file = os.path.join(scratch, "md5aes.secrets")

# name, map, arguments, exit code, words in the output, values afterwards
# (None: the printer's values are not looked at).
CASES = [
    ("detected", MAP, PORT, 0,
     ["sysDescr.0", "answers, but has nothing under sysDescr", "from port monitor",
      'detected: "HDD 320 GB", "RAM 2 GB"', "detected: the sub-tree holds no text values",
      "=> DETECTED", "nothing written", "Summary: 1 detected, 0 failed, 0 skipped"], {}),
    ("detected-write", MAP, PORT + ["--write"], 0, ["QV_AutoCfgSuccess = 1"], DETECTED),
    ("option-empty", dict(MAP, PunchingUnit=E + "9"), PORT, 0,
     ["PunchingUnit  1.3.6.1.4.1.55555.20.9", "nothing under this sub-tree: the printer answers"], {}),
    ("silent", MAP, ["--printer", "VRDetect Silent", "--timeout", "1"], 1,
     [NO_ANSWER, "not walked: an earlier walk got no answer", "FAILED (HardDisk: no answer)",
      "! Warning: A connection to the printer could not be established."], None),
    ("wrong-community-write", MAP, PORT + ["--community", "wrong", "--timeout", "1", "--write"], 1,
     ["community     wrong                    from command line", NO_ANSWER,
      "not walked: detection stops at the first option that fails", "QV_AutoCfgSuccess = 0"], SILENT),
    ("half-write", MAP, ["--printer", "VRDetect Half", "--timeout", "1", "--write"], 1,
     ['detected: "HDD only"', "3000Finisher  1.3.6.1.4.1.55555.20.2   " + NO_ANSWER], HALF),
    ("refusing", REFUSING_MAP, ["--address", "127.0.0.44", "--community", "public", "--timeout", "1"], 1,
     ["Address 127.0.0.44  (no printer)", "the agent refused the request: error status 5 (genErr)",
      "! Warning: Walk incomplete: the agent answered with error status 5 (genErr)",
      "FAILED (3000Finisher: refused)"], None),
    ("no-entry", NO_PUNCH, PORT, 1,
     ["no map entry for this option in VRUnPQ.xml", "! Error: ", "FAILED (PunchingUnit: no map entry)"], {}),
    ("no-map", None, PORT, 1, ["map missing: VRUnPQ.xml beside the program cannot be read",
                               "FAILED (HardDisk: map missing)"], {}),
    # ... and SNMPv3 (a 7th column: the environment, a community stored before).
    ("v3-detected", V3_MAP, V3 + SHA_AES, 0,
     ['security      SNMPv3 authPriv, user "shaaes", authentication SHA, privacy AES',
      'detected: "HDD 500 GB"', "=> DETECTED", "nothing written"], {}, SHAAES),
    ("v3-write", V3_MAP, V3 + SHA_AES + ["--write"], 0, ["the stored community kept"],
     dict(V3_VALUES, QV_AutoComName=LONG_COMMUNITY.encode()),
     dict(SHAAES, community=LONG_COMMUNITY)),
    ("v1-same-printer", V3_MAP, V3 + ["--write"], 0, ["from port monitor"],
     dict(V3_VALUES, QV_AutoComName=b"v1test")),
    ("v3-wrong-password", V3_MAP, V3 + SHA_AES, 1,
     ["authentication failure: wrong authentication password",
      "FAILED (HardDisk: authentication failure)"],
     None, {"env": dict(SHAAES["env"], VR_SNMP_AUTH_PASSWORD="wrong-auth1")}),
    ("v3-unknown-user", V3_MAP, V3 + ["--v3-user", "nobody"] + SHA_AES[2:], 1,
     ["unknown user: the agent has no SNMPv3 user", "FAILED (HardDisk: unknown user)"], None,
     SHAAES),
    ("v3-privacy-required", V3_MAP, V3 + ["--v3-user", "privonly", "--v3-auth", "SHA"], 1,
     ["privacy required by the agent", "FAILED (HardDisk: privacy required)"], None,
     {"env": {"VR_SNMP_AUTH_PASSWORD": "privonly-auth"}}),
    ("v3-no-password", V3_MAP, V3 + SHA_AES + ["--write"], 2,
     ["VRAutoDetect: no privacy password: set VR_SNMP_PRIV_PASSWORD or give --v3-secrets FILE\r\n"], {},
     {"env": {"VR_SNMP_AUTH_PASSWORD": "shaaes-auth"}}),
    ("v3-no-secrets-file", V3_MAP, V3 + SHA_AES + ["--v3-secrets", "Z:\\nowhere.secrets"], 2,
     ['VRAutoDetect: --v3-secrets: the file "Z:\\nowhere.secrets" cannot be read'], None, SHAAES),
]
USAGE_ERRORS = [
    (["--bogus"], "unknown option --bogus"),
    (PORT + ["--write", "--jobs", "3"], "--jobs: only with --all"),
    (["--printer"], "--printer needs a value"),
    (["--address", "h", "--timeout", "100"], "--timeout: a number of seconds from 1 to 99"),
    (["--address", "h", "--write"], "--write: needs a printer"),
    (["--all", "--jobs", "0"], "--jobs: a number from 1 to 64"),
    (["--all", "--address", "h"], "--address: not with --all"),
    (PORT + ["--all"], "--all: not with --printer"),
    (PORT + ["--json", "--json"], "--json given twice"),
    ([], "nothing to ask"),
    (PORT + ["--v3-user", "shaaes", "--v3-password", "shaaes-auth"], "unknown option --v3-password"),
    (PORT + ["--v3-user", "u", "--v3-priv", "AES"], "--v3-priv: privacy needs authentication"),
    (PORT + ["--v3-auth", "SHA"], "--v3-user: the SNMPv3 options need --v3-user"),
    (PORT + ["--v3-user", "u", "--community", "c"], "--community: not with --v3-user"),
    (PORT + ["--v3-user", "u", "--v3-auth", "SHA512"], "--v3-auth: MD5, SHA or SHA256"),
]


def wine(*args, extra_env=None):
    """Runs once more when Wine itself was killed by a signal (its loader
    crashes now and then before the program runs; see cmake/wine-run.sh.in)."""
    for attempt in range(2):
        run = subprocess.run(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args),
                             env=dict(env, **(extra_env or {})), capture_output=True, timeout=300)
        if run.returncode <= 128:
            break
        print("wine ended by signal %d: %r once more" % (run.returncode - 128, args))
    return run


def start(*args):
    """The program running, its output collected by communicate()."""
    return subprocess.Popen(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args), env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def workers_of(case):
    """The running worker processes of a copy of the program (Wine shows each
    process's Windows command line, which names the copy's directory)."""
    directory = ("Z:" + os.path.abspath(os.path.join(scratch, case)).replace("/", "\\") + "\\").encode()
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            line = open("/proc/%s/cmdline" % pid, "rb").read().replace(b"\0", b" ")
        except OSError:
            continue
        if b" --worker" in line and line.startswith(directory):
            found.add(int(pid))
    return found


def watch_workers(case, run):
    """Every worker process seen while the run lasts."""
    seen = set()

    def sample():
        while run.poll() is None:
            seen.update(workers_of(case))
            time.sleep(0.02)
    watcher = threading.Thread(target=sample)
    watcher.start()
    return seen, watcher


def silent_agent():
    """127.0.0.58:161 ("VRPool 2"'s address) taken by the test: it hears the
    requests and never answers."""
    agent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    agent.bind(("127.0.0.58", 161))
    return agent


def install(case, query_map):
    """A copy of the program in a directory of its own, with this map."""
    directory = os.path.join(scratch, case)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    shutil.copy(program, directory)
    if query_map is not None:
        with open(os.path.join(directory, "VRUnPQ.xml"), "w") as f:
            f.write("<Options>\n" + "".join("<Property name='%s'><Value oid='%s'/></Property>\n"
                                            % item for item in query_map.items()) + "</Options>\n")
    return os.path.join(directory, os.path.basename(program))


def stored(printer):
    """The printer's values as the program handed them over (text types
    narrowed from the spooler's UTF-16)."""
    export = os.path.join(scratch, "values.reg")
    if os.path.exists(export):
        os.remove(export)
    wine("reg", "export", "%s\\%s\\PrinterDriverData" % (PRINTERS, printer),
         "Z:" + export.replace("/", "\\"), "/y")
    if not os.path.exists(export):
        return {}
    return {name: body.decode("utf-16-le").encode("latin-1") if kind in (1, 7) else body
            for name, (kind, body) in read_export(export).items()}


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)


os.makedirs(scratch, exist_ok=True)
for name, query_map, args, code, words, expected, *more in CASES:
    more = more[0] if more else {}
    exe = install(name, query_map)
    printer = args[1] if args[0] == "--printer" else None
    if printer and expected is not None and printer != "VRDetect Half":
        cleared = wine("reg", "delete", "%s\\%s\\PrinterDriverData" % (PRINTERS, printer), "/va", "/f")
        check(cleared.returncode in (0, 1), "%s: values not cleared: %r" % (name, cleared.stderr))
    if "community" in more:
        wine("reg", "add", "%s\\%s\\PrinterDriverData" % (PRINTERS, printer), "/v", "QV_AutoComName",
             "/d", more["community"], "/f")
    run = wine(exe, *args, extra_env=more.get("env"))
    out = (run.stdout + run.stderr).decode("cp1252")
    check(not [p for p in SECRETS if p in out], "%s: a password in the output" % name)
    print("---- %s: exit %d\n%s" % (name, run.returncode, out))
    check(run.returncode == code, "%s: exit code %d, not %d" % (name, run.returncode, code))
    for w in words:
        check(w in out, "%s: no %r in the output" % (name, w))
    if expected is not None:
        check(stored(printer) == expected, "%s: values %r, not %r" % (name, stored(printer), expected))

exe = install("usage", MAP)
for args, error in USAGE_ERRORS:
    run = wine(exe, *args)
    err = run.stderr.decode("cp1252").replace("\r\n", "\n")
    check(run.returncode == 2 and run.stdout == b"", "%s: exit %d, output %r" % (args, run.returncode, run.stdout))
    check(err.startswith("VRAutoDetect: " + error) and "\nUsage:\n" in err, "%s: told %r" % (args, err))
check(stored("VRDetect Port") == {}, "a usage error with --write wrote something")

# JSON: one address (texts of the ANSI code page in UTF-8, control characters escaped) ...
run = wine(install("json-one", REFUSING_MAP), "--address", "127.0.0.44", "--community", "public",
           "--timeout", "1", "--json")
one = json.loads(run.stdout)
disk = one["printers"][0]["options"][0]["walk"]
check("\x01\x7f\u2019\xff raw" in disk["values"] and disk["outcome"] == "detected", "json: %r" % disk)
check(one["printers"][0]["options"][1]["walk"]["errorStatus"] == 5 and one["exitCode"] == 1,
      "json: %r" % one["printers"][0]["options"][1])

# ... and every printer of the test driver, four at a time: each once, in
# the order of their names, the silent one failed, the portless one skipped,
# all in far less time than one after the other.
exe = install("json-all", MAP)
run = start(exe, "--all", "--driver", "VR Detect Test Driver", "--jobs", "4", "--timeout", "1", "--json")
workers, watcher = watch_workers("json-all", run)
run.stdout, run.stderr = run.communicate(timeout=300)
watcher.join()
fleet = json.loads(run.stdout)
# Six printers, four workers: each worker takes more than one.
check(0 < len(workers) <= 4, "--all --jobs 4: worker processes %r" % sorted(workers))
status = {p["printer"]: p["status"] for p in fleet["printers"]}
print("---- --all: %r, summary %r" % (status, fleet["summary"]))
check([p["printer"] for p in fleet["printers"]] ==
      ["VRDetect Half", "VRDetect No Address", "VRDetect Port", "VRDetect Port B",
       "VRDetect Port C", "VRDetect Silent"], "--all: printers %r" % list(status))
check(status == {"VRDetect Half": "failed", "VRDetect No Address": "skipped",
                  "VRDetect Port": "detected", "VRDetect Port B": "detected",
                  "VRDetect Port C": "detected", "VRDetect Silent": "failed"}, "--all: %r" % status)
check(fleet["summary"]["failed"] == 2 and fleet["exitCode"] == 1 and run.returncode == 1
      and run.stderr == b"", "--all: %r, stderr %r" % (fleet["summary"], run.stderr))
sequential = sum(p["milliseconds"] for p in fleet["printers"])
check(fleet["summary"]["milliseconds"] < 0.7 * sequential,
      "--all: %d ms for printers of %d ms together" % (fleet["summary"]["milliseconds"], sequential))

# SNMPv3 for every printer of a driver: the children take the passwords from
# the same file, whose lines win over the environment's.
with open(secrets_file, "w") as f:
    f.write("auth=md5aes-auth\r\npriv=md5aes-priv\r\n")
run = wine(install("json-v3", V3_MAP), "--all", "--driver", "VR Detect V3 Driver", "--v3-user", "md5aes",
           "--v3-auth", "MD5", "--v3-priv", "AES", "--v3-secrets", "Z:" + secrets_file.replace("/", "\\"),
           "--json", extra_env=SHAAES["env"])
v3 = json.loads(run.stdout)["printers"]
check(run.returncode == 0 and [(p["status"], p["security"], p["community"]) for p in v3] ==
      [("detected", {"version": 3, "level": "authPriv", "user": "md5aes", "auth": "MD5", "priv": "AES"}, None)]
      and not [p for p in SECRETS if p.encode() in run.stdout + run.stderr], "--all over v3: %r" % run.stdout)
# The pool's workers: a printer that never answers keeps its worker and
# no other printer waits for it (each printer's table comes as it
# completes) ...
POOL = ["VRPool %d" % n for n in range(1, 6)]
exe = install("pool-silent", MAP)
with silent_agent():
    run = wine(exe, "--all", "--driver", "VR Detect Pool Driver", "--jobs", "2", "--timeout", "2")
out = run.stdout.decode("cp1252")
order = sorted(POOL, key=lambda name: out.find('Printer "%s"' % name))
print("---- pool, silent: exit %d, order %r\n%s" % (run.returncode, order, out))
check(order[-1] == "VRPool 2" and all(out.count('Printer "%s"' % n) == 1 for n in POOL),
      "pool: the live printers held up behind the silent one: %r" % order)
check("FAILED (HardDisk: no answer)" in out and "Summary: 4 detected, 1 failed" in out,
      "pool, silent: %r" % out[-200:])

# ... and a worker killed in the middle of a printer costs that printer
# only: a fresh worker takes the rest.
exe = install("pool-kill", MAP)
with silent_agent() as agent:
    agent.settimeout(120)
    run = start(exe, "--all", "--driver", "VR Detect Pool Driver", "--jobs", "1", "--timeout", "1",
                "--json")
    try:
        agent.recvfrom(2048)
        victims = workers_of("pool-kill")
    except socket.timeout:
        victims = set()
    check(len(victims) == 1, "pool, killed: workers %r while VRPool 2 was asked" % victims)
    for pid in victims:
        os.kill(pid, signal.SIGKILL)
    out, err = run.communicate(timeout=300)
pool = json.loads(out)["printers"]
print("---- pool, killed: %r" % [(p["printer"], p["status"], p["reason"]) for p in pool])
check([(p["printer"], p["status"]) for p in pool] ==
      [(n, "failed" if n == "VRPool 2" else "detected") for n in POOL], "pool, killed: %r" % pool)
check(pool[1]["reason"].startswith("its worker process ended (exit code ") and
      pool[1]["reason"].endswith(") while detecting it, without a report"),
      "pool, killed: reason %r" % pool[1]["reason"])

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
