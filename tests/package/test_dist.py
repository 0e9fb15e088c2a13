#!/usr/bin/env python3
"""The release as make dist makes it (package/make-dist.sh): signed at the
project's version with a throwaway certificate made here, unsigned at a
newer patch and at a rebuild differing in the fourth field only. Natively:
signatures, a changed byte, the password, the unsigned release said,
checksums. Under Wine, in a prefix of its own: the signed programs run (the
demonstration printer on 127.0.0.66), and msiexec installs, upgrades,
refuses a downgrade and uninstalls.

Usage: test_dist.py SCRIPT VERSION WORK_DIR PREFIX AGENT_CONFIG CMAKE FILE..."""
import os, re, shutil, subprocess, sys, time

script, version, work, prefix, agent_config, cmake = sys.argv[1:7]
files = sys.argv[7:]
AGENT = "127.0.0.66"
INSTALL = os.path.join(prefix, "drive_c", "Program Files", "VR")
WINE = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
failures = []


def check(label, ok, detail=""):
    print(("ok    " if ok else "FAIL  ") + label + ("" if ok else ": " + detail))
    if not ok:
        failures.append(label)


def run(command, env=None, **kw):
    return subprocess.run(command, env=env, capture_output=True, text=True, errors="replace", **kw)


def make_release(name, release_version, env):
    """The release script's result and folder, WORK/name; the guide given
    ends with a line naming the build, which tells installed files apart."""
    guide = [f for f in files if f.endswith("README.txt")][0]
    readme = os.path.join(work, name + "-guide", "README.txt")
    os.makedirs(os.path.dirname(readme))
    with open(readme, "w") as f:
        f.write(open(guide).read() + "Build %s of the guide.\n" % release_version)
    out = os.path.join(work, name)
    given = [f for f in files if f != guide] + [readme]
    return run(["sh", script, out, release_version] + given, env=dict(env, CMAKE=cmake)), out


def verify(path):
    return run(["osslsigncode", "verify", "-CAfile", cert_pem, "-in", path])


def wine(*args):
    return run(["wine"] + list(args), env=WINE, timeout=120)


def installed_products():
    """The version of each "VR AutoDetect" among the installed programs."""
    text = wine("reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s").stdout
    blocks = [dict(re.findall(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*?)\r?$", block, re.M))
              for block in re.split(r"\r?\n(?=HKEY_)", text)]
    return [b.get("DisplayVersion") for b in blocks if b.get("DisplayName") == "VR AutoDetect"]


EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VRAutoDetect"


def event_source():
    """The event source's values as (type, data) by name; None without its key."""
    query = wine("reg", "query", EVENT_SOURCE)
    if query.returncode != 0:
        return None
    return {name: (kind, data) for name, kind, data in
            re.findall(r"^[ \t]+(\w+)[ \t]+(REG_\w+)[ \t]*(.*?)\r?$", query.stdout, re.M)}


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
# The throwaway certificate and its password, in files only.
password = "pw-%d-%d" % (os.getpid(), time.time_ns())
password_file = os.path.join(work, "password")
open(password_file, "w").write(password)
cert_key, cert_pem, cert_pfx = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "cert.pfx"))
for command in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=VR Test Signing",
                 "-addext", "extendedKeyUsage=codeSigning", "-keyout", cert_key, "-out", cert_pem, "-days", "2"],
                ["openssl", "pkcs12", "-export", "-inkey", cert_key, "-in", cert_pem, "-out", cert_pfx,
                 "-passout", "file:" + password_file]):
    if run(command).returncode:
        sys.exit("openssl failed: %s" % command)
# osslsigncode through a wrapper that records every command line it is given.
shim, argv_log = os.path.join(work, "shim"), os.path.join(work, "osslsigncode-argv")
os.makedirs(shim)
open(os.path.join(shim, "osslsigncode"), "w").write(
    '#!/bin/sh\necho "$*" >> "%s"\nexec %s "$@"\n' % (argv_log, shutil.which("osslsigncode")))
os.chmod(os.path.join(shim, "osslsigncode"), 0o755)
plain = {k: v for k, v in os.environ.items() if not k.startswith("VR_SIGN_")}
signing = dict(plain, PATH=shim + ":" + plain["PATH"], VR_SIGN_PFX=cert_pfx, VR_SIGN_PASSWORD_FILE=password_file)

major, minor, patch = (int(n) for n in version.split(".")[:3])
newer, rebuild = ("%d.%d.%d.%d" % (major, minor, patch + 1, tweak) for tweak in (0, 5))
zip_name, msi_name = "VRAutoConfig-%s-x64" % version, "VRAutoDetect-%s-x64.msi" % version

# Signed.
signed, signed_dir = make_release("signed", version, signing)
log = signed.stdout + signed.stderr
check("signed: made, and said", signed.returncode == 0 and "are signed" in log and "NOT signed" not in log, log)
argv = open(argv_log).read() if os.path.exists(argv_log) else ""
check("signed: the password is on no command line and in no output",
      sum(line.startswith("sign ") for line in argv.splitlines()) == 3 and password not in argv
      and password not in log, argv)
unpacked = os.path.join(work, "unpacked")
run(["unzip", "-q", "-o", os.path.join(signed_dir, zip_name + ".zip"), "-d", unpacked])
folder = os.path.join(unpacked, zip_name)
for path in (os.path.join(folder, "VRAutoConfig.exe"), os.path.join(folder, "VRAutoDetect.exe"),
             os.path.join(signed_dir, msi_name)):
    result = verify(path)
    check("signed: %s verifies against the certificate" % os.path.basename(path), result.returncode == 0,
          result.stdout + result.stderr)
for name, offset in (("VRAutoDetect.exe", 20000), (msi_name, 30000)):
    data = bytearray(open(os.path.join(folder if name.endswith(".exe") else signed_dir, name), "rb").read())
    data[offset] ^= 0x01
    changed = os.path.join(work, "changed-" + name)
    open(changed, "wb").write(data)
    check("signed: %s with one byte changed is refused" % name, verify(changed).returncode != 0)

# Checksums: every file of the zip listed, each sum right; the zip's and the
# MSI's beside them.
sums = run(["sha256sum", "-c", "SHA256SUMS"], cwd=folder)
listed = sorted(line.split("  ", 1)[1] for line in open(os.path.join(folder, "SHA256SUMS")).read().splitlines())
check("checksums: SHA256SUMS lists every other file of the zip",
      listed == sorted(set(os.listdir(folder)) - {"SHA256SUMS"}), str(listed))
check("checksums: SHA256SUMS matches the signed files", sums.returncode == 0, sums.stdout + sums.stderr)
for name in (zip_name + ".zip.sha256", msi_name + ".sha256"):
    beside = run(["sha256sum", "-c", name], cwd=signed_dir)
    check("checksums: " + name, beside.returncode == 0 and ": OK" in beside.stdout, beside.stdout + beside.stderr)

# Unsigned, and a certificate given by half.
unsigned, unsigned_dir = make_release("newer", newer, plain)
lines = [l for l in (unsigned.stdout + unsigned.stderr).splitlines() if "signed" in l]
check("unsigned: one line says so", unsigned.returncode == 0 and len(lines) == 1 and "NOT signed" in lines[0],
      unsigned.stdout + unsigned.stderr)
result = verify(os.path.join(unsigned_dir, "VRAutoDetect-%s-x64.msi" % newer))
check("unsigned: the installer carries no signature", "no signature" in (result.stdout + result.stderr).lower())
half, half_dir = make_release("half", version, dict(plain, VR_SIGN_PFX=cert_pfx))
check("half a certificate: refused, naming what is missing, nothing made",
      half.returncode != 0 and "VR_SIGN_PASSWORD_FILE" in half.stderr
      and not (os.path.isdir(half_dir) and os.listdir(half_dir)),
      half.stdout + half.stderr)
rebuilt, rebuilt_dir = make_release("rebuild", rebuild, plain)

# The signed programs run: the demonstration's detection, and the dialog
# program, which ends at once without a printer name.
if os.geteuid() != 0 or not shutil.which("snmpd"):
    print("skipped: the signed programs' detection needs root and snmpd for port 161")
else:
    persistent = os.path.join(work, "agent")
    os.makedirs(persistent)
    agent = subprocess.Popen(["snmpd", "-f", "-Lf", os.path.join(persistent, "log"), "-C", "-c", agent_config,
                              "-p", os.path.join(persistent, "pid"), "udp:%s:161" % AGENT],
                             env=dict(os.environ, SNMP_PERSISTENT_DIR=persistent, MIBS=""),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(50):  # until it answers
            if not run(["snmpget", "-v1", "-c", "demo", "-t", "0.2", "-r", "0", AGENT, "1.3.6.1.2.1.1.1.0"]).returncode:
                break
            time.sleep(0.1)
        detected = wine(os.path.join(folder, "VRAutoDetect.exe"), "--address", AGENT, "--community", "demo",
                        "--timeout", "2")
        check("signed: VRAutoDetect.exe detects the demonstration printer",
              detected.returncode == 0 and '"HDD", "320 GB"' in detected.stdout and "=> DETECTED" in detected.stdout,
              detected.stdout + detected.stderr)
    finally:
        agent.terminate()
        agent.wait()
dialog = wine(os.path.join(folder, "VRAutoConfig.exe"))
check("signed: VRAutoConfig.exe runs", dialog.returncode == 0, dialog.stderr)

# The installer, under Wine's msiexec.
program = os.path.join(INSTALL, "AutoDetect", "VRAutoDetect.exe")
result = wine("msiexec", "/i", os.path.join(signed_dir, msi_name), "/qn")
check("install: quiet, the three files in %ProgramFiles%\\VR\\AutoDetect", result.returncode == 0
      and sorted(os.listdir(os.path.dirname(program))) == ["README.txt", "VRAutoDetect.exe", "VRUnPQ.xml"]
      and open(program, "rb").read() == open(os.path.join(folder, "VRAutoDetect.exe"), "rb").read(),
      result.stdout + result.stderr)
check("install: one entry at " + version, installed_products() == [version], str(installed_products()))
check("install: the event source VRAutoDetect names the installed program", event_source() ==
      {"EventMessageFile": ("REG_SZ", r"C:\Program Files\VR\AutoDetect\VRAutoDetect.exe"),
       "TypesSupported": ("REG_DWORD", "0x7")}, str(event_source()))
usage = wine(r"C:\Program Files\VR\AutoDetect\VRAutoDetect.exe", "--help")
check("install: the installed program runs --help", usage.returncode == 0 and usage.stdout.startswith("Usage:")
      and "--printer NAME" in usage.stdout, usage.stdout + usage.stderr)
said = wine(r"C:\Program Files\VR\AutoDetect\VRAutoDetect.exe", "--version")
check("install: --version names the program and its version",
      said.returncode == 0 and said.stdout == "VRAutoDetect.exe %s\n" % version, said.stdout + said.stderr)
# The site edits its query map; no upgrade replaces it.
site_map = os.path.join(INSTALL, "AutoDetect", "VRUnPQ.xml")
edited = open(site_map, "rb").read().replace(b"</", b"<!-- this site's map -->\n</", 1)
open(site_map, "wb").write(edited)
for label, release_dir, release_version in (("upgrade", unsigned_dir, newer), ("rebuild", rebuilt_dir, rebuild)):
    result = wine("msiexec", "/i", os.path.join(release_dir, "VRAutoDetect-%s-x64.msi" % release_version), "/qn")
    guide = open(os.path.join(INSTALL, "AutoDetect", "README.txt")).read()
    check("%s: one copy at %s, its files" % (label, release_version),
          result.returncode == 0 and installed_products() == [release_version]
          and guide.endswith("Build %s of the guide.\n" % release_version),
          "msiexec %d, installed %s; %s" % (result.returncode, installed_products(),
                                            result.stdout + result.stderr))
    check("%s: the site's changed query map kept" % label,
          os.path.exists(site_map) and open(site_map, "rb").read() == edited,
          repr(open(site_map, "rb").read()[:200]) if os.path.exists(site_map) else "gone")
result = wine("msiexec", "/i", os.path.join(signed_dir, msi_name), "/qn")
check("downgrade: refused, the newer one stays", result.returncode != 0 and installed_products() == [rebuild],
      "status %d, %s" % (result.returncode, installed_products()))
# Kept through the upgrades; the uninstall takes it.
registered = event_source()
result = wine("msiexec", "/x", os.path.join(rebuilt_dir, "VRAutoDetect-%s-x64.msi" % rebuild), "/qn")
check("uninstall: nothing left behind but the site's query map", result.returncode == 0
      and os.path.exists(site_map) and os.listdir(INSTALL) == ["AutoDetect"]
      and os.listdir(os.path.dirname(site_map)) == ["VRUnPQ.xml"]
      and open(site_map, "rb").read() == edited and installed_products() == [],
      "status %d, %s, %s" % (result.returncode, installed_products(), list(os.walk(INSTALL))))
# The map left behind is this test's: the next run starts without it.
shutil.rmtree(INSTALL, ignore_errors=True)
check("uninstall: the event source, there after the upgrades, is gone",
      registered is not None and "EventMessageFile" in registered and event_source() is None,
      "%s, then %s" % (registered, event_source()))

print("%d failed" % len(failures) if failures else "all rows passed")
sys.exit(1 if failures else 0)
