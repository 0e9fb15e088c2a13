#!/usr/bin/env python3
"""Prints the seven printer data values of a printer as a table, from the
printer's PrinterDriverData key exported by `wine reg export` (a REGEDIT5
file in UTF-16): name, type, and the value decoded (REG_SZ as its text,
REG_MULTI_SZ as its list of texts, REG_BINARY in hex). A value that is not
there is shown as "(not written)".

Usage: printer-values.py EXPORTED.reg
Exit status: 0 when QV_AutoCfgSuccess is 01, 1 otherwise."""

import re
import sys

NAMES = ["QV_AutoCfgDisk", "QV_AutoCfgFinisher", "QV_AutoCfgPunchUnit",
         "QV_AutoCfgCassettes", "QV_AutoCfgSuccess", "QV_AutoComName",
         "QV_AutoTimeOut"]
TYPES = {1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD",
         7: "REG_MULTI_SZ"}


def read_export(path):
    """The values of the exported file: name -> (type number, raw bytes)."""
    raw = open(path, "rb").read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("latin-1")
    # Hex data runs over lines ending in a backslash.
    text = re.sub(r"\\\r?\n\s*", "", text)
    values = {}
    for line in text.splitlines():
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not m:
            continue
        name, data = m.group(1), m.group(2)
        if data.startswith('"'):
            body = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            values[name] = (1, body.encode("utf-16-le"))
        elif data.startswith("dword:"):
            values[name] = (4, int(data[6:], 16).to_bytes(4, "little"))
        else:
            h = re.match(r"^hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
            if h:
                kind = int(h.group(1), 16) if h.group(1) else 3
                body = bytes(int(b, 16) for b in h.group(2).split(",") if b.strip())
                values[name] = (kind, body)
    return values


def quoted(text):
    """A text in double quotes, its quotes and backslashes escaped, so that
    where it begins and ends is never in doubt."""
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def decode(kind, body):
    """The value as the table shows it. Texts are stored as UTF-16 by the
    spooler, whatever the program handed over in its ANSI code page."""
    if kind in (1, 2):
        return quoted(body.decode("utf-16-le").rstrip("\0"))
    if kind == 7:
        texts = body.decode("utf-16-le").split("\0")
        # The list ends at the first empty text (its final NUL).
        items = []
        for t in texts:
            if t == "":
                break
            items.append(quoted(t))
        return ", ".join(items) if items else "(empty list)"
    if kind == 3:
        return " ".join("%02x" % b for b in body) or "(no bytes)"
    if kind == 4:
        return str(int.from_bytes(body, "little"))
    return body.hex()


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    values = read_export(sys.argv[1])
    rows = []
    for name in NAMES:
        if name in values:
            kind, body = values[name]
            rows.append((name, TYPES.get(kind, "type %d" % kind), decode(kind, body)))
        else:
            rows.append((name, "-", "(not written)"))
    widths = [max(len(r[i]) for r in rows + [("Value", "Type", "Content")]) for i in range(2)]
    print("%-*s  %-*s  %s" % (widths[0], "Value", widths[1], "Type", "Content"))
    print("%s  %s  %s" % ("-" * widths[0], "-" * widths[1], "-" * 40))
    for name, kind, shown in rows:
        print("%-*s  %-*s  %s" % (widths[0], name, widths[1], kind, shown))
    success = values.get("QV_AutoCfgSuccess")
    return 0 if success and success == (3, b"\x01") else 1


if __name__ == "__main__":
    sys.exit(main())
