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
import atexit
import json
import os
import runpy
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

program, scratch, agent_dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
# The same program with the spooler's call table wrapped (spooler_faults.cpp).
faults = os.environ["VR_FAULTS_PROGRAM"]
here = os.path.dirname(os.path.abspath(__file__))
# The export reader of the demonstration's value table.
read_export = runpy.run_path(os.path.join(here, "..", "..", "scripts", "printer-values.py"))[
    "read_export"]
prefix = os.environ["VR_WINE_PREFIX"]
env = {k: v for k, v in os.environ.items() if not k.startswith("VR_SNMP_")}
# Wine makes the UTF-16 command line from our arguments by the Unix locale's
# character set: a UTF-8 one that every Debian has (en_US.UTF-8 need not be
# installed).
env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
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
GOOD = {"QV_AutoCfgDisk": b"HDD 320 GB\0RAM 2 GB\0\0", "QV_AutoCfgFinisher": b"SR3000\0\0",
        "QV_AutoCfgPunchUnit": b"\0", "QV_AutoCfgCassettes": b"Tray 2\0LCT\0\0",
        "QV_AutoCfgSuccess": b"\x01"}
# An earlier good run of the dialog, settings included.
DETECTED = dict(GOOD, QV_AutoComName=b"vrtest", QV_AutoTimeOut=b"6")
OLD = b"old\0\0"
OLD_LISTS = {"QV_AutoCfgDisk": OLD, "QV_AutoCfgFinisher": OLD, "QV_AutoCfgPunchUnit": OLD,
             "QV_AutoCfgCassettes": OLD}
NO_ANSWER = "no answer: printer off, wrong address, or a community the agent does not accept"
SILENT_PRINTER = ("the printer did not answer: off, wrong address, SNMP switched off or UDP port "
                  "161 filtered, or a community it does not accept")
KEPT = "kept: nothing written, every stored value stays as it was"
DENIED = "run it from an elevated prompt, or as an account that may manage this printer"
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
# Wine shows a file's Unix permissions as its access list: what others may
# read, Everyone may read.
os.makedirs(scratch, exist_ok=True)
world_secrets = os.path.join(scratch, "world.secrets")
with open(world_secrets, "w") as f:
    f.write("auth=shaaes-auth\r\npriv=shaaes-priv\r\n")
os.chmod(world_secrets, 0o644)
private_secrets = os.path.join(scratch, "private.secrets")
with open(private_secrets, "w") as f:
    f.write("auth=shaaes-auth\r\npriv=shaaes-priv\r\n")
os.chmod(private_secrets, 0o600)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# name, map, arguments, exit code, words in the output, values afterwards
# (None: the printer's values are not looked at); a 7th column: "before",
# the values stored first (else none); "fault", the spooler's fault (the
# program with its call table wrapped, which also counts the writes); "env".
CASES = [
    ("detected", MAP, PORT, 0,
     ["sysDescr.0", "answers, but has nothing under sysDescr", "from port monitor",
      'detected: "HDD 320 GB", "RAM 2 GB"', "detected: the sub-tree holds no text values",
      'QV_AutoCfgDisk       would change stored (not written); detected "HDD 320 GB", "RAM 2 GB"',
      "=> DETECTED", "nothing written", "Summary: 1 detected, 0 failed, 0 skipped"], {}),
    # Stored settings are written only when given.
    ("detected-write", MAP, PORT + ["--write"], 0, ["changed values written and read back"], GOOD),
    ("settings-given", MAP, PORT + ["--write", "--community", "vrtest", "--timeout", "6"], 0,
     ['QV_AutoComName       changed      stored "other"; detected "vrtest"'], DETECTED,
     {"before": dict(GOOD, QV_AutoComName=b"other")}),
    # Only what differs is written: nothing, or the one list.
    ("unchanged", MAP, PORT + ["--write"], 0,
     ["unchanged: nothing differed, nothing written", "spooler writes: 0"], DETECTED,
     {"before": DETECTED, "fault": "count"}),
    ("one-changed", MAP, PORT + ["--write"], 0,
     ['QV_AutoCfgFinisher   changed      stored "old"; detected "SR3000"',
      'QV_AutoCfgDisk       unchanged', "spooler writes: 3"], DETECTED,
     {"before": dict(DETECTED, QV_AutoCfgFinisher=OLD), "fault": "count"}),
    ("option-empty", dict(MAP, PunchingUnit=E + "9"), PORT, 0,
     ["PunchingUnit  1.3.6.1.4.1.55555.20.9", "nothing under this sub-tree: the printer answers"], {}),
    ("nothing-anywhere", {k: E + "9" for k in MAP}, PORT, 0,
     ["=> DETECTED", "the query map may not be the one for this model"], {}),
    ("silent", MAP, ["--printer", "VRDetect Silent", "--timeout", "1"], 1,
     [NO_ANSWER, "not walked: an earlier walk got no answer", "FAILED (" + SILENT_PRINTER,
      "[4 attempts, no reply in 4.", "! Warning: A connection to the printer could not be established."], None),
    # Not all four detected: an earlier good run stays byte for byte.
    ("silent-kept", MAP, PORT + ["--community", "wrong", "--timeout", "1", "--write"], 1,
     ["community     wrong                    from command line", NO_ANSWER, SILENT_PRINTER, KEPT],
     DETECTED, {"before": DETECTED}),
    ("half-kept", MAP, ["--printer", "VRDetect Half", "--timeout", "1", "--write"], 1,
     ['detected: "HDD only"', "3000Finisher  1.3.6.1.4.1.55555.20.2   " + NO_ANSWER,
      "FAILED (3000Finisher: no answer)", KEPT], OLD_LISTS, {"before": OLD_LISTS}),
    # A refusal is no silence: the later options are still walked.
    ("refused-kept", REFUSING_MAP, PORT + ["--address", "127.0.0.44", "--community", "public",
                                          "--timeout", "1", "--write"], 1,
     ["FAILED (3000Finisher: refused)", "PunchingUnit  1.3.6.1.4.1.55555.20.3",
      "CassetteTwo   1.3.6.1.4.1.55555.20.4", KEPT], DETECTED, {"before": DETECTED}),
    # Writes that fail, said in words; what the printer holds afterwards.
    ("access-denied", MAP, PORT + ["--write"], 1,
     ['"VRDetect Port" could not be opened for writing: ', "(error 5)", DENIED, "NOT STORED",
      "spooler writes: 0"], dict(DETECTED, QV_AutoCfgFinisher=OLD),
     {"before": dict(DETECTED, QV_AutoCfgFinisher=OLD), "fault": "deny-write-open"}),
    ("third-write", MAP, PORT + ["--write"], 1,
     ['"VRDetect Port": QV_AutoCfgFinisher could not be written: ', "(error 112)",
      "QV_AutoCfgFinisher   not stored", "QV_AutoCfgSuccess    not stored"],
     dict(DETECTED, QV_AutoCfgFinisher=OLD, QV_AutoCfgSuccess=b"\x00"),
     {"before": dict(DETECTED, QV_AutoCfgDisk=OLD, QV_AutoCfgFinisher=OLD),
      "fault": "fail-third-write"}),
    ("misread", MAP, PORT + ["--write"], 1,
     ['"VRDetect Port": QV_AutoCfgFinisher reads back other bytes than were written'], DETECTED,
     {"before": dict(DETECTED, QV_AutoCfgFinisher=OLD), "fault": "misread"}),
    ("refusing", REFUSING_MAP, ["--address", "127.0.0.44", "--community", "public", "--timeout", "1"], 1,
     ["Address 127.0.0.44  (no printer)", "the agent refused the request: error status 5 (genErr)",
      "! Warning: Walk incomplete: the agent answered with error status 5 (genErr)",
      "FAILED (3000Finisher: refused)"], None),
    ("host-name", MAP, ["--address", "localhost", "--timeout", "1"], 1,
     ["localhost                from command line, resolves to 127.0.0.1"], None),
    ("no-entry", NO_PUNCH, PORT, 1,
     ["no map entry for this option in VRUnPQ.xml", "! Error: ", "FAILED (PunchingUnit: no map entry)"], {}),
    # Nothing asked: exit code 3.
    ("no-map", None, PORT + ["--write"], 3, ["the query map cannot be read: Z:\\", "Nothing was asked"], {}),
    ("no-driver-match", MAP, ["--all", "--driver", "VR Detect Typo Driver", "--write"], 3,
     ['no local printer of driver "VR Detect Typo Driver": nothing was asked'], None),
    ("all-skipped", MAP, ["--all", "--driver", "VR Detect Skip Driver"], 1,
     ["SKIPPED: no address", "Summary: 0 detected, 0 failed, 1 skipped"], None),
    ("short-report", MAP, ["--all", "--driver", "VR Detect Skip Driver"], 1,
     ["its worker process ended (exit code 1) after ", "of the report's", "Summary: 0 detected, 1 failed, 0 skipped"], None,
     {"fault": "short-report"}),
    # ... and SNMPv3 (a 7th column: the environment, a community stored before).
    ("v3-detected", V3_MAP, V3 + SHA_AES, 0,
     ['security      SNMPv3 authPriv, user "shaaes", authentication SHA, privacy AES',
      'detected: "HDD 500 GB"', "=> DETECTED", "nothing written"], {}, SHAAES),
    ("v3-write", V3_MAP, V3 + SHA_AES + ["--write"], 0, ["the stored community kept"],
     dict(V3_VALUES, QV_AutoComName=LONG_COMMUNITY.encode()),
     dict(SHAAES, before={"QV_AutoComName": LONG_COMMUNITY.encode()})),
    ("v1-same-printer", V3_MAP, V3 + ["--write"], 0, ["from port monitor"], V3_VALUES),
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
    # The secrets file is used only when no ordinary user may read it.
    ("v3-secrets-world-readable", V3_MAP, V3 + SHA_AES + ["--v3-secrets", windows_path(world_secrets)], 2,
     ['VRAutoDetect: --v3-secrets: Everyone may read the file "%s": allow only the administrators '
      'and SYSTEM' % windows_path(world_secrets)], None),
    ("v3-secrets-private", V3_MAP, V3 + SHA_AES + ["--v3-secrets", windows_path(private_secrets)], 0,
     ['detected: "HDD 500 GB"'], None),
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
    # A password typed in the wrong place is never repeated.
    (PORT + ["--v3-user", "u", "shaaes-auth"], "argument 5, after --v3-user, is no option"),
    (["shaaes-priv"], "argument 1 is no option"),
    (PORT + ["--shaaes-auth!"], "argument 3, after --printer, is no option"),
    (PORT + ["--driver", "VR Detect Test Driver"], "--driver: only with --all"),
    (["--all", "--write"], "--write: with --all only with --driver NAME"),
    (PORT + ["--v3-engines", "Z:\\known.engines"], "--v3-user: the SNMPv3 options need --v3-user"),
]


def wine(*args, extra_env=None):
    """Runs once more when Wine itself was killed by a signal (its loader
    crashes now and then before the program runs; see cmake/wine-run.sh.in)."""
    for attempt in range(2):
        run = subprocess.run(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args),
                             env=dict(env, **(extra_env or {})), capture_output=True, timeout=300,
                             stdin=subprocess.DEVNULL)
        if run.returncode <= 128:
            break
        print("wine ended by signal %d: %r once more" % (run.returncode - 128, args))
    return run


TYPES = {"QV_AutoCfgSuccess": "hex", "QV_AutoComName": "sz", "QV_AutoTimeOut": "sz"}


def store(printer, values):
    """The printer's values cleared, then these stored (as the dialog's
    writers would hand them over)."""
    key = "%s\\%s\\PrinterDriverData" % (PRINTERS, printer)
    cleared = wine("reg", "delete", key, "/va", "/f")
    check(cleared.returncode in (0, 1), "%s: values not cleared: %r" % (printer, cleared.stderr))
    if not values:
        return
    lines = ["REGEDIT4", "", "[%s]" % key.replace("HKLM", "HKEY_LOCAL_MACHINE")]
    for name, body in values.items():
        kind = TYPES.get(name, "hex(7)")
        if kind == "sz":
            lines.append('"%s"="%s"' % (name, body.decode("latin-1")))
        else:
            lines.append('"%s"=%s:%s' % (name, kind, ",".join("%02x" % b for b in body)))
    path = os.path.join(scratch, "before.reg")
    with open(path, "w", encoding="latin-1") as f:
        f.write("\r\n".join(lines) + "\r\n")
    wine("reg", "import", "Z:" + path.replace("/", "\\"))
    check(stored(printer) == values, "%s: stored before %r" % (printer, stored(printer)))


def start(*args, extra_env=None):
    """The program running, its output collected by communicate()."""
    return subprocess.Popen(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args),
                            env=dict(env, **(extra_env or {})), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


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


def install(case, query_map, source=None):
    """A copy of the program in a directory of its own, with this map."""
    directory = os.path.join(scratch, case)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    shutil.copy(source or program, directory)
    if query_map is not None:
        with open(os.path.join(directory, "VRUnPQ.xml"), "w") as f:
            f.write("<Options>\n" + "".join("<Property name='%s'><Value oid='%s'/></Property>\n"
                                            % item for item in query_map.items()) + "</Options>\n")
    return os.path.join(directory, os.path.basename(source or program))


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)


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


os.makedirs(scratch, exist_ok=True)
# VR_DETECT_ONLY=name,name... runs only those rows (and none of the blocks
# after the table), for a quick look while changing the program.
only = [n for n in os.environ.get("VR_DETECT_ONLY", "").split(",") if n]
# Workers that cannot be trusted with "VRPool 1", one at a time, so that a
# fresh worker must take the rest; beside the table. One hangs after it asked
# (its report held back): stopped at the printer's bound, which for a
# time-out of 1 s is 50 s. One hands its report over as another printer's.
BROKEN_WORKERS = [
    ("pool-hang", "hang-report", "its worker process gave no report within 50 s of asking (the "
     "bound for a time-out of 1 s), and was stopped", (50000, 60000)),
    ("pool-other", "other-report", "its worker process handed back something else than this "
     "printer's report, and was stopped", (0, 20000)),
]
broken = {}
for case, fault, _, _ in ([] if only else BROKEN_WORKERS):
    broken[case] = start(install(case, MAP, faults), "--all", "--driver", "VR Detect Pool Driver",
                         "--jobs", "1", "--timeout", "1", "--json",
                         extra_env={"VR_TEST_SPOOLER_FAULT": fault})
for name, query_map, args, code, words, expected, *more in CASES:
    if only and name not in only:
        continue
    more = more[0] if more else {}
    exe = install(name, query_map, faults if "fault" in more else None)
    printer = args[1] if args[0] == "--printer" else None
    if printer and expected is not None:
        store(printer, more.get("before", {}))
    extra = dict(more.get("env", {}))
    if "fault" in more:
        extra["VR_TEST_SPOOLER_FAULT"] = more["fault"]
    run = wine(exe, *args, extra_env=extra)
    out = (run.stdout + run.stderr).decode("utf-8")
    check(not [p for p in SECRETS if p in out], "%s: a password in the output" % name)
    print("---- %s: exit %d\n%s" % (name, run.returncode, out))
    check(run.returncode == code, "%s: exit code %d, not %d" % (name, run.returncode, code))
    for w in words:
        check(w in out, "%s: no %r in the output" % (name, w))
    if expected is not None:
        check(stored(printer) == expected, "%s: values %r, not %r" % (name, stored(printer), expected))

if only:
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
exe = install("usage", MAP)
for args, error in USAGE_ERRORS:
    run = wine(exe, *args)
    err = run.stderr.decode("utf-8").replace("\r\n", "\n")
    check(run.returncode == 2 and run.stdout == b"", "%s: exit %d, output %r" % (args, run.returncode, run.stdout))
    check(err.startswith("VRAutoDetect: " + error) and "\nUsage:\n" in err, "%s: told %r" % (args, err))
    check(not [p for p in SECRETS if p in err], "%s: a password in the output" % args)
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

# One at a time: never two children at once, so the run takes at least the
# printers' own times added up.
run = wine(install("jobs-one", MAP), "--all", "--driver", "VR Detect Test Driver", "--jobs", "1",
           "--timeout", "1", "--json")
fleet = json.loads(run.stdout)
sequential = sum(p["milliseconds"] for p in fleet["printers"])
check(fleet["summary"]["milliseconds"] >= sequential,
      "--jobs 1: %d ms for printers of %d ms together" % (fleet["summary"]["milliseconds"], sequential))

# A report that is kept: JSON into a file (nothing on standard output, no
# partial file left), its header first; a line per printer per run appended.
report, log = os.path.join(scratch, "last-run.json"), os.path.join(scratch, "history.log")
for f in (report, log):
    if os.path.exists(f):
        os.remove(f)
store("VRDetect Port", dict(DETECTED, QV_AutoCfgFinisher=OLD))
exe = install("kept-report", MAP)
for attempt in range(2):
    run = wine(exe, *PORT, "--write", "--json", "--output", "Z:" + report.replace("/", "\\"),
               "--log", "Z:" + log.replace("/", "\\"))
    check(run.returncode == 0 and run.stdout == b"", "--output: exit %d, %r" % (run.returncode, run.stdout))
kept = json.loads(open(report, "rb").read())
check(list(kept)[:5] == ["utc", "computer", "version", "queryMap", "printers"]
      and kept["queryMap"].endswith("\\kept-report\\VRUnPQ.xml")
      and kept["printers"][0]["changes"]["QV_AutoCfgFinisher"] == "unchanged"
      and kept["printers"][0]["stored"]["QV_AutoCfgFinisher"] == {"type": "REG_MULTI_SZ", "value": ["SR3000"]}
      and [f for f in os.listdir(scratch) if "partial" in f] == [], "--output: %r" % kept)
lines = open(log, "rb").read().decode("utf-8").split("\r\n")
check(len(lines) == 3 and lines[2] == "" and
      lines[0].split("\t")[2:] == ["VRDetect Port", "detected, written",
                                   'QV_AutoCfgFinisher "old" -> "SR3000"'] and
      lines[1].split("\t")[2:] == ["VRDetect Port", "detected, unchanged", "no change"],
      "--log: %r" % lines)
store("VRDetect Port", {})

# SNMPv3 for every printer of a driver: the parent takes the passwords from
# the file, whose lines win over the environment's, and hands the children
# the keys on their standard input. A child that finds a password variable
# in its environment refuses to ask: each is detected only when the parent
# kept the variables from it.
with open(secrets_file, "w") as f:
    f.write("auth=md5aes-auth\r\npriv=md5aes-priv\r\n")
os.chmod(secrets_file, 0o600)
run = wine(install("json-v3", V3_MAP), "--all", "--driver", "VR Detect V3 Driver", "--v3-user", "md5aes",
           "--v3-auth", "MD5", "--v3-priv", "AES", "--v3-secrets", windows_path(secrets_file),
           "--json", extra_env=SHAAES["env"])
v3 = json.loads(run.stdout)["printers"]
check(run.returncode == 0 and [(p["status"], p["security"], p["community"]) for p in v3] ==
      [("detected", {"version": 3, "level": "authPriv", "user": "md5aes", "auth": "MD5", "priv": "AES"}, None)]
      and not [p for p in SECRETS if p.encode() in run.stdout + run.stderr], "--all over v3: %r" % run.stdout)
# ... and without the file: the keys from the variables, which the children
# never see.
run = wine(install("json-v3-env", V3_MAP), "--all", "--driver", "VR Detect V3 Driver", *SHA_AES,
           "--json", extra_env=SHAAES["env"])
v3 = json.loads(run.stdout)["printers"]
check(run.returncode == 0 and [p["status"] for p in v3] == ["detected"],
      "--all over v3, children without the password variables: %r %r" % (run.stdout, run.stderr))
# A worker started by hand, without its parent's handover, asks nothing.
run = wine(install("child-alone", V3_MAP), "--worker", *V3, *SHA_AES, extra_env=SHAAES["env"])
check(run.returncode == 2 and b"no handover block" in run.stderr, "--worker alone: %r" % run.stderr)
# SNMPv3 engines bound to printers (--v3-engines): agents of our own, snmpd
# with the v3 tests' users and each its engine id, on 127.0.0.79 and .80
# ("VREngines B" and "C"; "A" is the v3 tests' snmpd on .71).
SNMPD_ENGINE = "80001f88047672763374657374"     # snmpd-v3.conf's


def start_snmpd(address, engine):
    """snmpd on address:161 with engine id engine (hex), a fresh persistent
    directory; stopped by stop_snmpd with the PID it wrote."""
    state = os.path.join(scratch, "snmpd-" + address)
    # One an earlier run left behind (it ended before stopping it).
    if os.path.exists(os.path.join(state, "pid")):
        stop_snmpd(state)
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(os.path.join(state, "persistent"))
    conf = [l for l in open(os.path.join(here, "..", "agents", "snmpd-v3.conf"))
            if not l.startswith(("exactEngineID", "oldEngineID", "engineBoots"))]
    with open(os.path.join(state, "snmpd.conf"), "w") as f:
        f.write("exactEngineID 0x%s\n" % engine + "".join(conf))
    subprocess.Popen(["/usr/sbin/snmpd", "-f", "-Lf", os.path.join(state, "log"), "-C", "-c",
                      os.path.join(state, "snmpd.conf"), "-p", os.path.join(state, "pid"),
                      "udp:%s:161" % address],
                     env=dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(state, "persistent"),
                              MIBS="", MIBDIRS="/nonexistent"),
                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(50):
        if subprocess.run(["snmpget", "-v3", "-l", "authNoPriv", "-u", "shaonly", "-a", "SHA", "-A",
                           "shaonly-auth", "-t", "0.2", "-r", "0", address, ".1.3.6.1.2.1.1.5.0"],
                          capture_output=True, env=dict(os.environ, MIBS="", MIBDIRS="/nonexistent")
                          ).returncode == 0:
            atexit.register(stop_snmpd, state)
            return state
        time.sleep(0.2)
    check(False, "snmpd on %s did not start: %r" % (address, open(os.path.join(state, "log")).read()))
    return state


def stop_snmpd(state):
    """By the PID it wrote, when that process is still the one started on
    this state directory."""
    try:
        pid = int(open(os.path.join(state, "pid")).read())
        if state.encode() not in open("/proc/%d/cmdline" % pid, "rb").read():
            return
    except (OSError, ValueError):
        return
    os.kill(pid, signal.SIGTERM)
    for _ in range(50):
        try:
            if open("/proc/%d/stat" % pid).read().split()[2] == "Z":
                return
        except OSError:
            return
        time.sleep(0.1)
    os.kill(pid, signal.SIGKILL)


def engine_lines(path):
    return [l.split(" ") for l in open(path, "rb").read().decode().split("\r\n") if l]


ENGINE_C1, ENGINE_C2 = "80001f880456525f656e67696e6531", "80001f880456525f656e67696e6532"
engines = os.path.join(scratch, "snmpv3.engines")
if os.path.exists(engines):
    os.remove(engines)
ENGINES = ["--v3-engines", windows_path(engines)]
ENGINES_C = ["--printer", "VREngines C", "--timeout", "1", "--write"] + SHA_AES + ENGINES
exe = install("engines", V3_MAP)
store("VREngines C", {})
agent_c = start_snmpd("127.0.0.80", ENGINE_C1)
# The first run adds the address's line, in a file only the administrators
# may read (Wine shows that access list as mode 0750) ...
run = wine(exe, *ENGINES_C, extra_env=SHAAES["env"])
out = run.stdout.decode()
lines = engine_lines(engines)
check(run.returncode == 0 and "engine        %s  new: added to %s" % (ENGINE_C1, windows_path(engines)) in out
      and [l[:2] for l in lines] == [["127.0.0.80", ENGINE_C1]] and len(lines[0][2]) == 20
      and os.stat(engines).st_mode & 0o777 == 0o750
      and stored("VREngines C") == V3_VALUES, "engines, first run: %r %r" % (lines, out))
first = open(engines, "rb").read()
# ... the same engine again is known, the file as it was ...
run = wine(exe, *ENGINES_C, extra_env=SHAAES["env"])
check(run.returncode == 0 and "known since %s" % lines[0][2] in run.stdout.decode()
      and open(engines, "rb").read() == first, "engines, second run: %r" % run.stdout)
# ... and the agent restarted with another engine id is refused: nothing
# walked, nothing written, the file as it was.
stop_snmpd(agent_c)
agent_c = start_snmpd("127.0.0.80", ENGINE_C2)
store("VREngines C", {})
run = wine(exe, *ENGINES_C, "--json", extra_env=SHAAES["env"])
refused = json.loads(run.stdout)["printers"][0]
check(run.returncode == 1 and refused["reason"] ==
      "the printer at 127.0.0.80 now presents SNMPv3 engine %s; it was %s since %s. If the printer "
      "was replaced or reset, remove its line from %s." % (ENGINE_C2, ENGINE_C1, lines[0][2], windows_path(engines))
      and refused["engine"]["state"] == "refused" and refused["sysDescr"]["values"] == []
      and [o["walk"]["exchanges"] for o in refused["options"]] == [0] * 4
      and stored("VREngines C") == {} and open(engines, "rb").read() == first,
      "engines, changed: %r" % refused)
# Two agents with one engine id (A on .71, B on .79) in one --all run, in
# parallel: the second is refused, naming both; the file rewritten whole
# with a line for each new printer.
agent_b = start_snmpd("127.0.0.79", SNMPD_ENGINE)
os.remove(engines)
ALL_ENGINES = ["--all", "--driver", "VR Detect Engines Driver", "--jobs", "3", "--timeout", "1",
               "--json"] + SHA_AES + ENGINES
run = wine(exe, *ALL_ENGINES, extra_env=SHAAES["env"])
fleet = {p["printer"][-1]: p for p in json.loads(run.stdout)["printers"]}
twins = sorted([fleet["A"], fleet["B"]], key=lambda p: p["engine"]["state"])
first_address, second_address = twins[0]["engine"]["address"], twins[1]["engine"]["address"]
check(run.returncode == 1 and [p["engine"]["state"] for p in twins] == ["new", "refused"]
      and twins[1]["status"] == "failed" and twins[1]["reason"].startswith(
          "the printer at %s presents SNMPv3 engine %s, which the printer at %s presented earlier in "
          "this run: two printers present the same engine ID (RFC 3411 asks each engine ID to be unique)"
          % (second_address, SNMPD_ENGINE, first_address))
      and fleet["C"]["status"] == "detected" and fleet["C"]["engine"]["state"] == "new"
      and sorted(l[:2] for l in engine_lines(engines)) ==
      sorted([[first_address, SNMPD_ENGINE], ["127.0.0.80", ENGINE_C2]])
      and os.stat(engines).st_mode & 0o777 == 0o750, "engines, --all: %r %r" % (fleet, engine_lines(engines)))
# The refused one alone, in a run of its own: its engine is the file's for
# another address.
run = wine(exe, "--printer", twins[1]["printer"], "--timeout", "1", "--json", *SHA_AES, *ENGINES,
           extra_env=SHAAES["env"])
alone = json.loads(run.stdout)["printers"][0]
check(run.returncode == 1 and alone["engine"]["state"] == "refused" and alone["reason"].startswith(
      "the printer at %s presents SNMPv3 engine %s, which %s lists for the printer at %s: two printers"
      % (second_address, SNMPD_ENGINE, windows_path(engines), first_address)), "engines, alone: %r" % alone)
# One printer at two addresses: accepted once the file lists its engine for both.
with open(engines, "ab") as f:
    f.write(("%s %s 2026-01-02T03:04:05Z\r\n" % (second_address, SNMPD_ENGINE)).encode())
run = wine(exe, *ALL_ENGINES, extra_env=SHAAES["env"])
check(run.returncode == 0 and [p["engine"]["state"] for p in json.loads(run.stdout)["printers"]] ==
      ["known"] * 3, "engines, listed for both: %r" % run.stdout)
stop_snmpd(agent_b)
stop_snmpd(agent_c)
# A line that is not one is named by its number, and nothing is asked.
with open(engines, "wb") as f:
    f.write(b"# known engines\r\n127.0.0.80 %s 2026-01-02T03:04:05Z\r\n127.0.0.79 80001f88zz 2026-01-02T03:04:05Z\r\n"
            % ENGINE_C2.encode())
for args in (ENGINES_C, ALL_ENGINES):
    run = wine(exe, *args, extra_env=SHAAES["env"])
    check(run.returncode == 3 and run.stdout == b"" and run.stderr.decode() ==
          'VRAutoDetect: --v3-engines: line 3 of "%s": the engine ID is not 5 to 32 bytes in hex\r\n'
          'Nothing was asked and nothing written.\r\n' % windows_path(engines),
          "engines, malformed: %r %r" % (run.stdout, run.stderr))
check(stored("VREngines C") == {}, "engines, malformed: values written")
# Printers named in several scripts (tests/prefix/detect-names.reg; a name
# holds neither a backslash nor a comma): each found by its name, its values
# written under that very name, and the JSON all ASCII.
NAMES = ["VRNames Plain", "VRNames Büro 2", "VRNames Drukarka łódź", "VRNames 印刷室 3F",
         "VRNames 𠮷" + "印" * 211, 'VRNames "Annex" A4']
exe = install("names", MAP)
for name in NAMES:
    wine("reg", "delete", "%s\\%s\\PrinterDriverData" % (PRINTERS, name), "/va", "/f")
    run = wine(exe, "--printer", name, "--timeout", "1", "--write")
    out = run.stdout.decode("utf-8", "replace")
    check(run.returncode == 0 and 'Printer "%s"  (driver "VR Detect Names Driver", port "VRDETECT_PORT")'
          % name in out and "=> DETECTED" in out and "changed values written and read back" in out,
          "name %r: exit %d, %r" % (name, run.returncode, out))
    check(stored(name) == dict(GOOD, QV_AutoTimeOut=b"1"), "name %r: values %r" % (name, stored(name)))
run = wine(install("names-json", MAP), "--all", "--driver", "VR Detect Names Driver", "--timeout", "1",
           "--json")
try:
    named = json.loads(run.stdout.decode("ascii"))["printers"]
except ValueError as e:
    named = "%s: %r" % (e, run.stdout[:300])
check(sorted((p["printer"], p["status"]) for p in named) == sorted((n, "detected") for n in NAMES)
      if isinstance(named, list) else False, "names --all --json: %r" % (named,))

# A console (Wine's, on a pseudo-terminal) shows the name as the table
# wrote it, whatever its code page.
if shutil.which("script"):
    tty = subprocess.run(["script", "-qec", shlex.join(
        ["flock", "-s", "-o", prefix + ".lock", "wine", exe, "--printer", NAMES[3], "--timeout", "1"]),
        "/dev/null"], env=env, capture_output=True, timeout=300, stdin=subprocess.DEVNULL)
    check('Printer "%s"' % NAMES[3] in tty.stdout.decode("utf-8", "replace"),
          "console: %r" % tty.stdout[:200])
else:
    print("not checked: no script(1) for a console")

# The secrets file as editors and shells write it; what is not one of these
# is named in one line that shows nothing of the file's lines.
PAIR = "auth=shaaes-auth\npriv=shaaes-priv"
STRAY = "shaaes-typo-line"
SECRET_FILES = [
    ("utf8-lf-no-last-newline", PAIR.encode(), 0, 'detected: "HDD 500 GB"'),
    ("utf8-bom-crlf", b"\xef\xbb\xbf" + (PAIR + "\n").replace("\n", "\r\n").encode(), 0, "=> DETECTED"),
    ("utf16-bom-crlf", (PAIR + "\n").replace("\n", "\r\n").encode("utf-16"), 0, "=> DETECTED"),
    ("utf16-bom-lf-no-last-newline", PAIR.encode("utf-16"), 0, "=> DETECTED"),
    ("utf8-bom-lf", b"\xef\xbb\xbf" + (PAIR + "\n").encode(), 0, "=> DETECTED"),
    ("nul", PAIR.replace("priv", "\0priv").encode(), 2, "holds a NUL byte"),
    ("utf16-be", b"\xfe\xff" + (PAIR + "\n").encode("utf-16-be"), 2, "is UTF-16 big-endian"),
    ("ansi", "auth=shaaes-äuth\npriv=shaaes-priv\n".encode("cp1252"), 2, "is neither UTF-8 nor UTF-16"),
    ("stray-line", ("auth=shaaes-auth\n%s\npriv=shaaes-priv\n" % STRAY).encode(), 2,
     "line 2 of \"%s\" is neither auth=... nor priv=..."),
]
exe = install("secrets", V3_MAP)
for label, body, code, said in SECRET_FILES:
    path = os.path.join(scratch, "geheimnis-ü-%s.secrets" % label)
    with open(path, "wb") as f:
        f.write(body)
    os.chmod(path, 0o600)
    windows_path = "Z:" + path.replace("/", "\\")
    run = wine(exe, "--address", "127.0.0.71", "--timeout", "1", "--v3-secrets", windows_path,
               *SHA_AES, extra_env={"VR_SNMP_AUTH_PASSWORD": "wrong-auth1"})
    out = (run.stdout + run.stderr).decode("utf-8", "replace")
    told = said % windows_path if "%s" in said else said
    check(run.returncode == code and told in out and (code == 0 or out.count("\n") == 1 and
          windows_path in out), "secrets %s: exit %d, %r" % (label, run.returncode, out))
    check(not [w for w in ["shaaes", STRAY] if w in out.replace("user \"shaaes\"", "")],
          "secrets %s: a line of the file shown: %r" % (label, out))

POOL = ["VRPool %d" % n for n in range(1, 6)]
for case, fault, reason, (least, most) in BROKEN_WORKERS:
    try:
        out, err = broken[case].communicate(timeout=240)
    except subprocess.TimeoutExpired:
        # Never stopped: the hung worker goes, and the run with it.
        for pid in workers_of(case):
            os.kill(pid, signal.SIGKILL)
        out, err = broken[case].communicate(timeout=60)
    try:
        pool = json.loads(out)["printers"]
    except ValueError:
        pool = [{"printer": "", "status": "no JSON: %r" % err}]
    print("---- %s: %r" % (case, [(p["printer"], p["status"], p.get("reason")) for p in pool]))
    check([(p["printer"], p["status"]) for p in pool] ==
          [(n, "detected" if n in POOL[2:] else "failed") for n in POOL], "%s: %r" % (case, pool))
    check(pool[0].get("reason") == reason and least <= pool[0]["milliseconds"] < most,
          "%s: %r" % (case, pool[0]))

# The pool's workers: a printer that never answers keeps its worker and
# no other printer waits for it (each printer's table comes as it
# completes) ...
exe = install("pool-silent", MAP)
with silent_agent():
    run = wine(exe, "--all", "--driver", "VR Detect Pool Driver", "--jobs", "2", "--timeout", "2")
out = run.stdout.decode("utf-8")
order = sorted(POOL, key=lambda name: out.find('Printer "%s"' % name))
print("---- pool, silent: exit %d, order %r\n%s" % (run.returncode, order, out))
check(order[-1] == "VRPool 2" and all(out.count('Printer "%s"' % n) == 1 for n in POOL),
      "pool: the live printers held up behind the silent one: %r" % order)
check("FAILED (%s)" % SILENT_PRINTER in out and "Summary: 4 detected, 1 failed" in out,
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
