#!/usr/bin/env python3
"""snmpd "pass" program: a fixed table of values of the syntaxes that
override cannot make (TimeTicks, IpAddress, Gauge32, Counter32, binary
octets), for the interop walk."""
import sys

ROOT = (1, 3, 6, 1, 4, 1, 55555, 2)
TABLE = [
    ((1, 0), "timeticks", "123456"),
    ((2, 0), "ipaddress", "192.0.2.17"),
    ((3, 0), "gauge", "4294967295"),
    ((4, 0), "counter", "7"),
    ((5, 0), "octet", "00 01 fe ff 41"),
    ((6, 0), "string", "printer \"quoted\""),
    ((7, 0), "objectid", ".1.3.6.1.4.1.55555.99.4294967295"),
    ((8, 1), "integer", "-2147483648"),
    ((8, 2), "integer", "2147483647"),
]


def parse(text):
    return tuple(int(part) for part in text.strip(".").split(".") if part)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("-g", "-n"):
        return
    oid = parse(sys.argv[2])
    for suffix, kind, value in TABLE:
        name = ROOT + suffix
        if (sys.argv[1] == "-g" and name == oid) or (sys.argv[1] == "-n" and name > oid):
            print("." + ".".join(str(x) for x in name))
            print(kind)
            print(value)
            return


main()
