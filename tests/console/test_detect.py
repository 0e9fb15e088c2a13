#!/usr/bin/env python3
"""VRAutoDetect.exe from end to end under Wine: the printers of
tests/prefix/detect.reg against the end-to-end tests' agents (snmpd on
127.0.0.55, the hard-disk-only agent on 127.0.0.56) and the engine's agent
(127.0.0.44, whose .30.5 answers once and then refuses with genErr).
Each case: the exit code, the outcome words, and what was written: with
--write the exact bytes of the seven values, those that the dialog's own
end-to-end tests pin for the same agents.

Usage: test_detect.py PROGRAM SCRATCH_DIR AGENT_DIR... (exit 77: skipped)"""
import json
import os
import runpy
import shutil
import subprocess
import sys

program, scratch, agent_dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
here = os.path.dirname(os.path.abspath(__file__))
# The export reader of the demonstration's value table.
read_export = runpy.run_path(os.path.join(here, "..", "..", "scripts", "printer-values.py"))[
    "read_export"]
prefix = os.environ["VR_WINE_PREFIX"]
env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
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
]


def wine(*args):
    """Runs once more when Wine itself was killed by a signal (its loader
    crashes now and then before the program runs; see cmake/wine-run.sh.in)."""
    for attempt in range(2):
        run = subprocess.run(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args),
                             env=env, capture_output=True, timeout=300)
        if run.returncode <= 128:
            break
        print("wine ended by signal %d: %r once more" % (run.returncode - 128, args))
    return run


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
for name, query_map, args, code, words, expected in CASES:
    exe = install(name, query_map)
    printer = args[1] if args[0] == "--printer" else None
    if printer and expected is not None and printer != "VRDetect Half":
        cleared = wine("reg", "delete", "%s\\%s\\PrinterDriverData" % (PRINTERS, printer), "/va", "/f")
        check(cleared.returncode in (0, 1), "%s: values not cleared: %r" % (name, cleared.stderr))
    run = wine(exe, *args)
    out = run.stdout.decode("cp1252")
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
run = wine(install("json-all", MAP), "--all", "--driver", "VR Detect Test Driver", "--jobs", "4",
           "--timeout", "1", "--json")
fleet = json.loads(run.stdout)
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
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
