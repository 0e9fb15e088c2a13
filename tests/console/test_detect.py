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
import re
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
# Another model's OIDs: the printer answers, with nothing under any of them.
OTHER_MAP = {k: E + "9" for k in MAP}
GOOD = {"QV_AutoCfgDisk": b"HDD 320 GB\0RAM 2 GB\0\0", "QV_AutoCfgFinisher": b"SR3000\0\0",
        "QV_AutoCfgPunchUnit": b"\0", "QV_AutoCfgCassettes": b"Tray 2\0LCT\0\0",
        "QV_AutoCfgSuccess": b"\x01"}
# An earlier good run of the dialog, settings included.
DETECTED = dict(GOOD, QV_AutoComName=b"vrtest", QV_AutoTimeOut=b"6")
EMPTY_LISTS = {"QV_AutoCfgDisk": b"\0", "QV_AutoCfgFinisher": b"\0", "QV_AutoCfgPunchUnit": b"\0",
               "QV_AutoCfgCassettes": b"\0", "QV_AutoCfgSuccess": b"\x01"}
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
# Every community the runs use, given, stored or the port's: none is ever shown.
COMMUNITIES = ["vrtest", "v1test", "public", "qomtan", "other-c0mm", "wrong-c0mm", "c0mm-w0rker",
               LONG_COMMUNITY]
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
# A folder where --output names a file: the report cannot be moved there.
os.makedirs(os.path.join(scratch, "a-folder"), exist_ok=True)
open(os.path.join(scratch, "a-folder", "kept"), "w").close()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# name, map, arguments, exit code, words in the output, values afterwards
# (None: the printer's values are not looked at); a 7th column: "before",
# the values stored first (else none); "fault", the spooler's fault (the
# program with its call table wrapped, which also counts the writes); "env";
# "absent", words that must not be in the output; "once", words said exactly
# once; "log", the words of the one line --log appends.
CASES = [
    ("detected", MAP, PORT, 0,
     ["sysDescr.0", "answers, but has nothing under sysDescr", "from port monitor",
      'detected: "HDD 320 GB", "RAM 2 GB"', "detected: the sub-tree holds no text values",
      'QV_AutoCfgDisk       would change stored (none stored); detected "HDD 320 GB", "RAM 2 GB"',
      "=> DETECTED", "nothing written", "Summary: 1 detected, 0 failed, 0 skipped"], {}),
    # Stored settings are written only when given.
    ("detected-write", MAP, PORT + ["--write"], 0, ["changed values written and read back"], GOOD),
    ("settings-given", MAP, PORT + ["--write", "--community", "vrtest", "--timeout", "6"], 0,
     ["community     set (from command line), changed\r\n",
      "QV_AutoComName       changed      stored a community (not shown); detected a community "
      "(not shown)"], DETECTED,
     {"before": dict(GOOD, QV_AutoComName=b"other-c0mm")}),
    ("settings-same", MAP, PORT + ["--community", "vrtest"], 0,
     ["community     set (from command line), unchanged\r\n"], DETECTED, {"before": DETECTED}),
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
    # Another model's map over stored options: nothing written, the map named
    # in the report and the history; a base model's first night is written;
    # the one way to store empty lists over parts is asked for by name.
    ("other-model-map", OTHER_MAP, PORT + ["--write"], 1,
     ["FAILED (the printer answers, but has nothing under any option's OID of the query map Z:\\",
      "\\other-model-map\\VRUnPQ.xml, while its stored options name parts: the map may be another "
      "model's", 'QV_AutoCfgDisk       kept         stored "HDD 320 GB", "RAM 2 GB"', KEPT], DETECTED,
     {"before": DETECTED, "log": ["failed, kept: the printer answers, but has nothing under any "
                                  "option's OID of the query map Z:\\", "\tno change"]}),
    ("first-night", OTHER_MAP, PORT + ["--write"], 0,
     ["QV_AutoCfgDisk       changed      stored (none stored); detected (empty list)",
      "changed values written and read back"], EMPTY_LISTS),
    ("accept-no-options", OTHER_MAP, PORT + ["--write", "--accept-no-options"], 0,
     ['QV_AutoCfgDisk       changed      stored "HDD 320 GB", "RAM 2 GB"; detected (empty list)',
      "changed values written and read back"], dict(DETECTED, **EMPTY_LISTS), {"before": DETECTED}),
    # Printers that cannot be asked, said once in words, nothing walked.
    ("unresolvable", MAP, ["--printer", "VRDetect Nowhere", "--timeout", "1"], 1,
     ["address       vrdetect-nowhere.invalid from port monitor",
      'FAILED (the host name "vrdetect-nowhere.invalid" does not resolve: '],
     None, {"absent": ["sysDescr.0", "not started", "HardDisk", "resolves to"],
            "once": ["does not resolve"]}),
    ("parallel-port", MAP, ["--printer", "VRDetect Parallel", "--timeout", "1"], 1,
     ["SKIPPED: this printer's port has no network address (port \"LPT1:\")"], None,
     {"absent": ["resolves to", "address  ", "sysDescr.0"]}),
    ("silent-once", MAP, ["--printer", "VRDetect Silent", "--timeout", "1", "--write"], 1,
     [KEPT], None, {"once": ["A connection to the printer could not be established."]}),
    # A report or history in a folder that is not there: said before
    # anything is asked, not a usage error.
    ("output-folder-missing", MAP, PORT + ["--write", "--output", "Z:\\vr-nowhere\\last-run.json"], 3,
     ['VRAutoDetect: --output: the folder "Z:\\vr-nowhere" cannot be used: ', "); nothing was asked"],
     {}, {"absent": ["Usage:", "partial"]}),
    ("log-folder-missing", MAP, PORT + ["--write", "--log", "Z:\\vr-nowhere\\history.log"], 3,
     ['VRAutoDetect: --log: the folder "Z:\\vr-nowhere" cannot be used: ', "); nothing was asked",
      "Nothing asked for printer \"VRDetect Port\": --log: the folder",
      "Summary: 0 detected, 0 failed, 0 skipped"], {}, {"absent": ["Usage:"]}),
    ("silent", MAP, ["--printer", "VRDetect Silent", "--timeout", "1"], 1,
     [NO_ANSWER, "not walked: an earlier walk got no answer", "FAILED (" + SILENT_PRINTER,
      "[4 attempts, no reply in 4.", "! Warning: A connection to the printer could not be established."], None),
    # Not all four detected: an earlier good run stays byte for byte.
    ("silent-kept", MAP, PORT + ["--community", "wrong-c0mm", "--timeout", "1", "--write"], 1,
     ["community     set (from command line), changed", NO_ANSWER, SILENT_PRINTER, KEPT],
     DETECTED, {"before": DETECTED}),
    ("half-kept", MAP, ["--printer", "VRDetect Half", "--timeout", "1", "--write"], 1,
     ['detected: "HDD only"', "3000Finisher  1.3.6.1.4.1.55555.20.2   " + NO_ANSWER,
      "FAILED (3000Finisher: no answer)", KEPT], OLD_LISTS, {"before": OLD_LISTS}),
    # A refusal is no silence: the later options are still walked.
    ("refused-kept", REFUSING_MAP, PORT + ["--address", "127.0.0.44", "--community", "public",
                                          "--timeout", "1", "--write"], 1,
     ["FAILED (3000Finisher: refused)", "PunchingUnit  1.3.6.1.4.1.55555.20.3",
      "CassetteTwo   1.3.6.1.4.1.55555.20.4", KEPT], DETECTED, {"before": DETECTED}),
    # --v2c: GetBulk over SNMPv2c stores the very bytes of the GetNext walks,
    # each option in one exchange; an agent that drops SNMPv2c is told so.
    ("v2c-write", MAP, PORT + ["--v2c", "--write"], 0,
     [", SNMPv2c", 'detected: "HDD 320 GB", "RAM 2 GB"  [1 exchange, ', "=> DETECTED"], GOOD),
    ("v2c-v1-only", {k: "1.3.6.1.4.1.55555.33.1" for k in MAP},
     ["--address", "127.0.0.44", "--community", "public", "--timeout", "1", "--v2c"], 1,
     ["FAILED (the printer did not answer over SNMPv2c: it may speak SNMPv1 only or have "
      "SNMPv2c switched off (run again without --v2c)"], None),
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
    # Every value written is read back, not the first alone.
    ("misread-later", MAP, PORT + ["--write"], 1,
     ['"VRDetect Port": QV_AutoCfgCassettes reads back other bytes than were written',
      "QV_AutoCfgDisk       changed", "QV_AutoCfgCassettes  not stored"], DETECTED,
     {"before": dict(DETECTED, QV_AutoCfgDisk=OLD, QV_AutoCfgCassettes=OLD),
      "fault": "misread-cassettes"}),
    # The same bytes under another type are another value: written again.
    ("other-type", MAP, PORT + ["--write"], 0,
     ['QV_AutoCfgFinisher   changed      stored 53 52 33 30 30 30 00', "spooler writes: 3"],
     DETECTED, {"before": dict(DETECTED, QV_AutoCfgFinisher=("hex", b"SR3000\0")),
                "fault": "count"}),
    # A report that cannot be put in its place fails the run.
    ("output-not-moved", MAP, PORT + ["--output", windows_path(os.path.join(scratch, "a-folder"))],
     1, ["--output: the report could not be moved over "], None),
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
    # SNMPv3 walks with GetBulk: an agent whose view ends inside a reply
    # answers endOfMibView there, which ends the walk with what it found
    # (the demonstration agent's user sees only its printer's sub-trees).
    ("v3-end-of-view", {k: "1.3.6.1.4.1.55555.100." + n for k, n in
                        (("HardDisk", "1"), ("RAMDisk", "1"), ("3000Finisher", "2"),
                         ("PunchingUnit", "3"), ("CassetteTwo", "4"))},
     ["--address", "127.0.0.45", "--timeout", "1", "--v3-user", "vrdemo", "--v3-auth", "SHA",
      "--v3-priv", "AES"], 0,
     ['HardDisk      1.3.6.1.4.1.55555.100.1  detected: "HDD", "320 GB"  [1 exchange',
      'CassetteTwo   1.3.6.1.4.1.55555.100.4  detected: "Cassette 2", "A4"  [1 exchange', "=> DETECTED"],
     None, {"env": {"VR_SNMP_AUTH_PASSWORD": "vrdemo-auth-pass", "VR_SNMP_PRIV_PASSWORD": "vrdemo-priv-pass"}}),
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
    # --event-log ("events": each event as Wine's stubs show it, in order; an
    # insert ending in "..." is matched as a prefix). An unchanged printer
    # has none of its own; the run's ID is 1000 + the exit code.
    ("events-unchanged", MAP, PORT + ["--write", "--event-log"], 0, ["=> DETECTED"], DETECTED,
     {"before": DETECTED, "events": [
         ("information", 1000, ['--printer "VRDetect Port" --write', "1", "0", "0", ""])]}),
    # Only the community changed: said so, its value never shown.
    ("events-community-only", MAP, PORT + ["--write", "--community", "vrtest", "--event-log"], 0,
     ["=> DETECTED"], DETECTED, {"before": dict(DETECTED, QV_AutoComName=b"other"), "events": [
         ("information", 2010, ["VRDetect Port", "detected, written", "",
                                "QV_AutoComName",
                                '--printer "VRDetect Port" --write']),
         ("information", 1000, ['--printer "VRDetect Port" --write', "1", "0", "0", ""])]}),
    ("events-not-stored", MAP, PORT + ["--write", "--event-log"], 1, ["NOT STORED"],
     dict(DETECTED, QV_AutoCfgFinisher=OLD, QV_AutoCfgSuccess=b"\x00"),
     {"before": dict(DETECTED, QV_AutoCfgDisk=OLD, QV_AutoCfgFinisher=OLD),
      "fault": "fail-third-write", "events": [
          ("warning", 2002, ["VRDetect Port", "failed, failed",
                             '"VRDetect Port": QV_AutoCfgFinisher could not be written: ...',
                             'QV_AutoCfgDisk "old" -> "HDD 320 GB", "RAM 2 GB"; '
                             'QV_AutoCfgFinisher "old" -> "SR3000" (not stored); '
                             'QV_AutoCfgSuccess 01 -> 01 (not stored)',
                             '--printer "VRDetect Port" --write']),
          ("warning", 1001, ['--printer "VRDetect Port" --write', "0", "1", "0", "Each printer ..."])]}),
    ("events-nothing-asked", MAP, ["--all", "--driver", "VR Detect Typo Driver", "--event-log"], 3,
     ["nothing was asked"], None, {"events": [
         ("error", 1003, ['--all --driver "VR Detect Typo Driver"', "0", "0", "0",
                          'no local printer of driver "VR Detect Typo Driver"'])]}),
    ("events-no-map", None, PORT + ["--event-log"], 3, ["Nothing was asked"], {}, {"events": [
        ("error", 1003, ['--printer "VRDetect Port"', "0", "0", "0",
                         "the query map cannot be read: Z:\\..."])]}),
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
    (PORT + ["--v2c", "--v3-user", "u"], "--v2c: not with --v3-user (give one version)"),
    (PORT + ["--v3-user", "u", "--v3-auth", "SHA512"], "--v3-auth: MD5, SHA or SHA256"),
    # A password typed in the wrong place is never repeated.
    (PORT + ["--v3-user", "u", "shaaes-auth"], "argument 5, after --v3-user, is no option"),
    (["shaaes-priv"], "argument 1 is no option"),
    (PORT + ["--shaaes-auth!"], "argument 3, after --printer, is no option"),
    (PORT + ["--driver", "VR Detect Test Driver"], "--driver: only with --all"),
    (["--all", "--write"], "--write: with --all only with --driver NAME"),
    # Empty lists over stored parts: for one printer, named, with --write.
    (PORT + ["--accept-no-options"], "--accept-no-options: only with --printer NAME --write"),
    (["--all", "--driver", "VR Detect Test Driver", "--write", "--accept-no-options"],
     "--accept-no-options: only with --printer NAME --write"),
    (PORT + ["--v3-engines", "Z:\\known.engines"], "--v3-user: the SNMPv3 options need --v3-user"),
]


# Under Wine the event log's calls are stubs that show what they are given:
# the ID and type in the line of ReportEventW's arguments, then each insert
# string on a line of its own, on the channel of the event's type.
EVENT_DEBUG = "-all,fixme+advapi,err+eventlog,warn+eventlog,trace+eventlog"
EVENT_TYPES = {1: "error", 2: "warning", 4: "information"}


def wine_text(quoted):
    """A string as Wine's debug output quotes it (L"..."), back to text."""
    return re.sub(r'\\(x[0-9a-fA-F]{2}|[0-9a-fA-F]{4}|.)', lambda m: {
        "n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), chr(int(m.group(1).lstrip("x"), 16))
                                          if len(m.group(1)) > 1 else m.group(1)), quoted)


def reported_events(stderr):
    """(type, ID, inserts) of each event the run reported, in order."""
    events, lines = [], stderr.decode("utf-8", "replace").splitlines()
    for i, line in enumerate(lines):
        call = re.search(r"fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]+),0x[0-9a-f]+,"
                         r"0x([0-9a-f]+),[0-9A-Fa-f]+,0x([0-9a-f]+),", line)
        if not call:
            continue
        count = int(call.group(3), 16)
        inserts = [wine_text(m.group(1)) for m in (
            re.search(r':eventlog:ReportEventW L"(.*)"$', l) for l in lines[i + 1:i + 1 + count]) if m]
        events.append((EVENT_TYPES.get(int(call.group(1), 16), call.group(1)), int(call.group(2), 16),
                       inserts))
    return events


def events_match(events, expected):
    """The events as expected; an expected insert ending in "..." is a prefix."""
    def same(insert, wanted):
        return insert.startswith(wanted[:-3]) if wanted.endswith("...") else insert == wanted
    return len(events) == len(expected) and all(
        kind == want_kind and number == want_number and len(inserts) == len(want_inserts)
        and all(same(a, b) for a, b in zip(inserts, want_inserts))
        for (kind, number, inserts), (want_kind, want_number, want_inserts) in zip(events, expected))


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
        if isinstance(body, tuple):
            kind, body = body
        if kind == "sz":
            lines.append('"%s"="%s"' % (name, body.decode("latin-1")))
        else:
            lines.append('"%s"=%s:%s' % (name, kind, ",".join("%02x" % b for b in body)))
    path = os.path.join(scratch, "before.reg")
    with open(path, "w", encoding="latin-1") as f:
        f.write("\r\n".join(lines) + "\r\n")
    wine("reg", "import", "Z:" + path.replace("/", "\\"))
    check(stored(printer) == {k: v[1] if isinstance(v, tuple) else v for k, v in values.items()},
          "%s: stored before %r" % (printer, stored(printer)))


def start(*args, extra_env=None):
    """The program running, its output collected by communicate()."""
    return subprocess.Popen(["flock", "-s", "-o", prefix + ".lock", "wine"] + list(args),
                            env=dict(env, **(extra_env or {})), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def workers_of(case, marker=b" --worker"):
    """The running worker processes of a copy of the program (Wine shows each
    process's Windows command line, which names the copy's directory); with
    marker b"", every process of it."""
    unix = os.path.abspath(os.path.join(scratch, case))
    directory = ("Z:" + unix.replace("/", "\\") + "\\").encode()
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            line = open("/proc/%s/cmdline" % pid, "rb").read().replace(b"\0", b" ")
        except OSError:
            continue
        if marker in line and (line.startswith(directory) or line.startswith(unix.encode() + b"/")):
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


def endless_agent():
    """127.0.0.59:161 taken by the test: every GetNext answered half a second
    late with a name one further inside the sub-tree asked, so that a walk
    never ends (until the engine's 4,096 exchanges, some 34 minutes)."""
    sys.path.insert(0, os.path.join(here, "..", "agents"))
    from snmp_ber import Malformed, message, parse_request, tlv
    agent = threading.Event()
    agent.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    agent.socket.bind(("127.0.0.59", 161))
    agent.socket.settimeout(0.5)

    def answer():
        while not agent.is_set():
            try:
                data, peer = agent.socket.recvfrom(2048)
                community, _, request_id, name = parse_request(data)
            except (socket.timeout, Malformed, ValueError):
                continue
            after = name[:-1] + (name[-1] + 1,) if name[-2:-1] == (7777,) else name + (7777, 1)
            time.sleep(0.5)
            agent.socket.sendto(message(request_id, [(after, tlv(0x04, b"more"))], community), peer)
    agent.thread = threading.Thread(target=answer, daemon=True)
    agent.thread.start()
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
    # Wine's reg.exe has been seen to fail now and then under ctest -j4,
    # leaving no file: that is the bench's reading, not the program's
    # values, so it is said and read once more; a key that is not there
    # fails both times.
    for attempt in range(2):
        if os.path.exists(export):
            os.remove(export)
        run = wine("reg", "export", "%s\\%s\\PrinterDriverData" % (PRINTERS, printer),
                   "Z:" + export.replace("/", "\\"), "/y")
        if run.returncode == 0 or attempt == 1:
            break
        print("reg export of %r failed (%d, %r): once more" % (printer, run.returncode, run.stderr))
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
# time-out of 1 s is 50 s. The others hand back what the parent must not
# use: each costs VRPool 1 only, and its worker is stopped at once (a worker
# left running would hold the only slot until that bound). The reason's
# beginning, and the run's time.
MALFORMED = "its worker process handed back a malformed report ("
BROKEN_WORKERS = [
    ("pool-hang", "hang-report", "its worker process gave no report within 50 s of asking (the "
     "bound for a time-out of 1 s), and was stopped", (50000, 150000)),
    ("pool-other", "other-report", "its worker process handed back something else than this "
     "printer's report, and was stopped", (0, 50000)),
    ("pool-outcome", "outcome-report", MALFORMED + "HardDisk: outcome 1000 out of range), and "
     "was stopped", (0, 50000)),
    ("pool-count", "count-report", MALFORMED + "HardDisk: 17 values for 16 slots)", (0, 50000)),
    ("pool-text", "text-report", MALFORMED + "its reason without its end)", (0, 50000)),
    ("pool-size", "size-report", MALFORMED + "a message of kind 2 and ", (0, 50000)),
    ("pool-asking", "asking-report", MALFORMED + 'a second "asking" message)', (0, 50000)),
    # The wait itself fails: every printer without a report is failed.
    ("pool-wait", "fail-wait", "the run could not wait for its worker processes (error 6)",
     (0, 50000)),
]
broken = {}
# VR_DETECT_ONLY may name these rows too, and "bound".
broken_rows = [row for row in BROKEN_WORKERS if not only or row[0] in only]
for case, fault, _, _ in broken_rows:
    broken[case] = start(install(case, MAP, faults), "--all", "--driver", "VR Detect Pool Driver",
                         "--jobs", "1", "--timeout", "1", "--json",
                         extra_env={"VR_TEST_SPOOLER_FAULT": fault})
# One printer has the bound a printer has in --all: an agent that keeps a
# walk going ends it there (beside the table).
endless = None
if not only or "bound" in only:
    endless = endless_agent()
    endless.run = start(install("bound", MAP), "--address", "127.0.0.59", "--community", "public",
                        "--timeout", "1")
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
    history = os.path.join(scratch, name + ".log")
    if os.path.exists(history):
        os.remove(history)
    if "events" in more:
        extra["WINEDEBUG"] = EVENT_DEBUG
    run = wine(exe, *args, *(["--log", windows_path(history)] if "log" in more else []),
               extra_env=extra)
    out = (run.stdout + run.stderr).decode("utf-8")
    check(not [p for p in SECRETS if p in out], "%s: a password in the output" % name)
    check(not [c for c in COMMUNITIES if c in out], "%s: a community in the output" % name)
    print("---- %s: exit %d\n%s" % (name, run.returncode, out))
    check(run.returncode == code, "%s: exit code %d, not %d" % (name, run.returncode, code))
    for w in words:
        check(w in out, "%s: no %r in the output" % (name, w))
    for w in more.get("absent", []):
        check(w not in out, "%s: %r in the output" % (name, w))
    for w in more.get("once", []):
        check(out.count(w) == 1, "%s: %r said %d times" % (name, w, out.count(w)))
    if "log" in more:
        lines = open(history, "rb").read().decode("utf-8").split("\r\n") if os.path.exists(history) else []
        check(len(lines) == 2 and all(w in lines[0] for w in more["log"]), "%s: --log %r" % (name, lines))
    if expected is not None:
        check(stored(printer) == expected, "%s: values %r, not %r" % (name, stored(printer), expected))
    if "events" in more:
        check(events_match(reported_events(run.stderr), more["events"]),
              "%s: events %r" % (name, reported_events(run.stderr)))

# --event-log over every printer of the test driver, with --write: an event
# for each printer failed and kept, skipped or changed, none for the
# unchanged ones, in the words of the report (the JSON's reasons); the
# community said to have changed, never its value; the run's last.
if not only or "events-all" in only:
    SETTLED = dict(DETECTED, QV_AutoTimeOut=b"1")
    store("VRDetect Port", dict(SETTLED, QV_AutoCfgFinisher=OLD, QV_AutoComName=b"other"))
    store("VRDetect Port B", SETTLED)
    store("VRDetect Port C", SETTLED)
    store("VRDetect Half", OLD_LISTS)
    run = wine(install("events-all", MAP), "--all", "--driver", "VR Detect Test Driver", "--write",
               "--community", "vrtest", "--timeout", "1", "--json", "--event-log",
               extra_env={"WINEDEBUG": EVENT_DEBUG})
    reasons = {p["printer"]: p["reason"] for p in json.loads(run.stdout)["printers"]}
    asked = '--all --driver "VR Detect Test Driver" --write'
    events = reported_events(run.stderr)
    print("---- events-all: exit %d\n%r" % (run.returncode, events))
    check(run.returncode == 1 and sorted(events[:-1]) == sorted([
        ("warning", 2001, ["VRDetect Half", "failed, kept", reasons["VRDetect Half"], "no change", asked]),
        ("warning", 2001, ["VRDetect Silent", "failed, kept", SILENT_PRINTER, "no change", asked]),
        ("warning", 2003, ["VRDetect No Address", "skipped", reasons["VRDetect No Address"], "no change",
                           asked]),
        ("information", 2010, ["VRDetect Port", "detected, written", "",
                               'QV_AutoCfgFinisher "old" -> "SR3000"; QV_AutoComName', asked])]) and
          events[-1:] == [("warning", 1001, [asked, "3", "2", "1", "Each printer not detected, not "
                                             "stored or skipped has an event of its own."])] and
          reasons["VRDetect Half"] == "3000Finisher: no answer",
          "events-all: %r" % events)
    check(not [e for e in events if "vrtest" in repr(e) or "other" in repr(e)],
          "events-all: a community's value in an event")
    check(stored("VRDetect Port").get("QV_AutoComName") == b"vrtest", "events-all: the community not written")
    for name in ("VRDetect Port", "VRDetect Port B", "VRDetect Port C"):
        store(name, {})

POOL = ["VRPool %d" % n for n in range(1, 6)]
for case, fault, reason, (least, most) in broken_rows:
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
    detected = [] if fault == "fail-wait" else POOL[2:]
    check([(p["printer"], p["status"]) for p in pool] ==
          [(n, "detected" if n in detected else "failed") for n in POOL], "%s: %r" % (case, pool))
    took = json.loads(out)["summary"]["milliseconds"] if pool[0]["printer"] else -1
    check(pool[0].get("reason", "").startswith(reason) and least <= took < most,
          "%s: %r, the run %d ms" % (case, pool[0], took))

if endless:
    try:
        out, err = endless.run.communicate(timeout=150)
    except subprocess.TimeoutExpired:
        for pid in workers_of("bound", b""):
            os.kill(pid, signal.SIGKILL)
        out, err = endless.run.communicate(timeout=60)
    endless.set()
    endless.thread.join()
    endless.socket.close()
    out = out.decode("utf-8", "replace")
    print("---- bound: exit %d\n%s" % (endless.run.returncode, out))
    check(endless.run.returncode == 1 and "=> FAILED (sysDescr.0: no end within 50 s (the bound for "
          "a time-out of 1 s): the agent kept the walk going)" in out and
          "HardDisk      1.3.6.1.4.1.55555.20.1   not walked" in out, "bound: %r" % out[-600:])

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
silent = [p for p in fleet["printers"] if p["printer"] == "VRDetect Silent"][0]
check([(o["walk"]["oid"], o["walk"]["outcome"], o["walk"].get("attempts")) for o in silent["options"][:2]] ==
      [(E + "1", "no answer", 4), (E + "2", "not walked", 0)] and fleet["write"] is False and
      fleet["jobs"] == 4 and silent["timeout"]["value"] == 1,
      "--all: the silent printer's walks %r" % silent["options"][:2])
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

# Files for the administrators only: the report and the log made with their
# own protected list (under Wine a file made with it is not readable by
# others, one made without is 0644) ...
for f in (report, log):
    check(os.stat(f).st_mode & 0o007 == 0, "%s: mode %o" % (f, os.stat(f).st_mode))
# ... a log with a second link is not written (exit 1, said why) ...
linked = os.path.join(scratch, "linked.log")
for f in (linked, linked + ".other"):
    if os.path.exists(f):
        os.remove(f)
with open(linked, "wb") as f:
    f.write(b"before\r\n")
os.link(linked, linked + ".other")
run = wine(exe, *PORT, "--log", windows_path(linked))
check(run.returncode == 1 and ('--log: "%s" has 2 links' % windows_path(linked)).encode() in run.stderr
      and open(linked, "rb").read() == b"before\r\n", "--log linked: %d %r" % (run.returncode, run.stderr))
os.remove(linked + ".other")

# ... and no community in the table, the JSON, --output, --log or standard
# error: where it came from, whether set, whether it differs from the
# stored one; in a SNMPv1 run with --community given and changed, and in an
# SNMPv3 run over a printer with a community stored.
for f in (report, log):
    if os.path.exists(f):
        os.remove(f)
COMMUNITY_RUNS = [
    ("v1", "VRDetect Port", MAP, ["--community", "vrtest", "--write"],
     dict(DETECTED, QV_AutoComName=b"other-c0mm"),
     {"set": True, "source": "command line", "changed": True}, "QV_AutoComName\r\n"),
    ("v3", "VRDetect V3", V3_MAP, ["--timeout", "1"] + SHA_AES,
     {"QV_AutoComName": LONG_COMMUNITY.encode()}, None, None),
]
for label, printer, query_map, args, before, community, change in COMMUNITY_RUNS:
    exe = install("community-" + label, query_map)
    store(printer, before)
    extra = SHAAES["env"] if label == "v3" else {}
    table = wine(exe, "--printer", printer, *args, extra_env=extra)
    store(printer, before)
    run = wine(exe, "--printer", printer, *args, "--json", "--output", windows_path(report), "--log",
               windows_path(log), extra_env=extra)
    kept = open(report, "rb").read() if os.path.exists(report) else b""
    logged = open(log, "rb").read() if os.path.exists(log) else b""
    everything = table.stdout + table.stderr + run.stdout + run.stderr + kept + logged
    print("---- community %s: %r\n%r" % (label, table.stdout[-1500:], logged))
    check(not [c for c in COMMUNITIES if c.encode() in everything],
          "community %s: a community shown" % label)
    try:
        shown = json.loads(kept)["printers"][0]
    except ValueError:
        shown = {"community": "no JSON: %r" % run.stderr}
    check(shown["community"] == community and shown["stored"]["QV_AutoComName"] ==
          {"type": "REG_SZ", "set": True}, "community %s: %r" % (label, shown))
    changes = logged.decode("utf-8").split("\t")[-1]
    check(run.returncode == 0 and (changes == change if change else "QV_AutoComName" not in changes),
          "community %s: exit %d, log %r" % (label, run.returncode, logged))
    os.remove(log)
    store(printer, {})

# A run that asks nothing (exit 3) replaces an earlier report whole with one
# that says what was asked for and why nothing was, and logs one line.
NOTHING_ASKED = [
    ("typo-driver", MAP, ["--all", "--driver", "VR Detect Typo Driver", "--write", "--json"],
     'every printer of driver "VR Detect Typo Driver"', 'no local printer of driver "VR Detect Typo Driver"'),
    ("typo-printer", MAP, ["--printer", "VRDetect Typo", "--write", "--json"], 'printer "VRDetect Typo"',
     'no printer named "VRDetect Typo" on this computer'),
    ("no-map-json", None, PORT + ["--json"], 'printer "VRDetect Port"', "the query map cannot be read: Z:\\"),
    ("typo-driver-table", MAP, ["--all", "--driver", "VR Detect Typo Driver"],
     'every printer of driver "VR Detect Typo Driver"', 'no local printer of driver "VR Detect Typo Driver"'),
]
for label, query_map, args, target, reason in NOTHING_ASKED:
    for f in (report, log):
        with open(f, "wb") as earlier:
            earlier.write(b"last night's\r\n" * 1000)
    run = wine(install(label, query_map), *args, "--output", windows_path(report),
               "--log", windows_path(log))
    body = open(report, "rb").read().decode("utf-8")
    if "--json" in args:
        try:
            said = json.loads(body)
        except ValueError:
            said = {"body": body[:200]}
        check(said.get("exitCode") == 3 and said.get("printers") == [] and (said.get("nothingAsked") or {})
              .get("for") == target and said["nothingAsked"]["reason"].startswith(reason),
              "%s: the report %r" % (label, said))
    else:
        check(body.startswith("VRAutoDetect ") and "\nNothing asked for %s: %s; nothing written\n" %
              (target, reason) in body.replace("\r\n", "\n") and "Summary: " in body,
              "%s: the report %r" % (label, body[:400]))
    lines = open(log, "rb").read().decode("utf-8").split("\r\n")[1000:]
    check(run.returncode == 3 and len(lines) == 2 and lines[0].split("\t")[2] == target and
          lines[0].split("\t")[3].startswith("nothing asked: " + reason),
          "%s: exit %d, --log %r" % (label, run.returncode, lines))

# A report that standard output does not take whole fails the run, as a
# failed --output does.
with open("/dev/full", "wb") as full:
    run = subprocess.run(["flock", "-s", "-o", prefix + ".lock", "wine", install("stdout-full", MAP),
                          *PORT, "--timeout", "1"], env=env, stdout=full, stderr=subprocess.PIPE,
                         timeout=300, stdin=subprocess.DEVNULL)
check(run.returncode == 1 and b"the report could not be written whole to standard output" in run.stderr,
      "stdout full: exit %d, %r" % (run.returncode, run.stderr))

# What a script reads at the head of the JSON and per printer, with types.
run = wine(install("json-words", MAP), "--all", "--driver", "VR Detect Words Driver", "--json")
words = json.loads(run.stdout)
check([words.get(k) for k in ("write", "driver", "jobs", "nothingAsked", "exitCode")] ==
      [False, "VR Detect Words Driver", 4, None, 1] and
      [(p["printer"], p["status"], p["changes"], p["sysDescr"], p["timeout"]["value"])
       for p in words["printers"]] ==
      [("VRDetect Nowhere", "failed", {}, None, 6), ("VRDetect Parallel", "skipped", {}, None, 6)],
      "json head and types: %r" % {k: v for k, v in words.items() if k != "printers"})

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
    # The report says so too, as for every run that asks nothing.
    check(run.returncode == 3 and b'line 3 of' in run.stdout and b"nothing" in run.stdout.lower()
          and run.stderr.decode() ==
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

# A name with an escape sequence and a bell: shown as escapes in the table
# and the log, never sent raw to a console or a log reader.
escaped = "VRNames Esc\x1b[31mRed\x07"
escape_log = os.path.join(scratch, "escape.log")
if os.path.exists(escape_log):
    os.remove(escape_log)
run = wine(exe, "--printer", escaped, "--timeout", "1", "--log", windows_path(escape_log))
shown = run.stdout + run.stderr + (open(escape_log, "rb").read() if os.path.exists(escape_log) else b"")
check(run.returncode == 0 and b'Printer "VRNames Esc\\x1b[31mRed\\x07"  (driver "VR Detect Escape Driver"'
      in run.stdout and b"\tVRNames Esc\\x1b[31mRed\\x07\tdetected" in shown and b"\x1b" not in shown
      and b"\x07" not in shown, "escape: exit %d, %r" % (run.returncode, shown[:600]))

# What a worker of --all sees (the test build records it): its command
# line without the community, which it is handed on its standard input; a
# TEMP outside the ANSI code page as it is; not the parent's other handles.
record = os.path.join(scratch, "worker.txt")
if os.path.exists(record):
    os.remove(record)
run = wine(install("worker-sees", MAP, faults), "--all", "--driver", "VR Detect Skip Driver",
           "--jobs", "1", "--community", "c0mm-w0rker", "--json",
           extra_env={"VR_TEST_RECORD_WORKER": windows_path(record)})
seen = open(record, "rb").read().decode("utf-8") if os.path.exists(record) else ""
print("---- worker-sees: %r" % seen)
try:
    skipped = json.loads(run.stdout)["printers"]
except ValueError:
    skipped = [{"community": "no JSON: %r" % run.stderr}]
check(" --worker" in seen and "c0mm-w0rker" not in seen + run.stdout.decode() + run.stderr.decode()
      and "temp: C:\\temp-\u0142\u00f3d\u017a-\u5370\n" in seen and "planted handle: not inherited\n" in seen,
      "worker-sees: %r" % seen)
check([p["community"] for p in skipped] == [{"set": True, "source": "command line", "changed": True}],
      "worker-sees: the community did not reach the worker: %r" % skipped)

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
    # Not the first line only, with the rest silently dropped.
    ("utf16-nul", PAIR.replace("\npriv", "\n\0priv").encode("utf-16"), 2, "holds a NUL character"),
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
