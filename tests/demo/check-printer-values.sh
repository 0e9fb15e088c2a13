#!/bin/sh
# The table that `make run` ends with (scripts/printer-values.py), from
# exports of the kind `wine reg export` writes (UTF-16, CRLF, hex data over
# several lines): each type decoded, a value not written, and the exit
# status that tells whether QV_AutoCfgSuccess is 01.
#   check-printer-values.sh SCRATCH_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
script=$here/../../scripts/printer-values.py
dir=$1
mkdir -p "$dir"
failures=0

# check NAME EXPECTED_STATUS: the export is on standard input (UTF-8 lines),
# the expected table in $expected.
check() {
    sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 > "$dir/$1.reg"
    python3 "$script" "$dir/$1.reg" > "$dir/$1.out"
    status=$?
    if [ "$status" -ne "$2" ] || ! printf '%s\n' "$expected" | diff -u - "$dir/$1.out"; then
        echo "FAILED: $1 (status $status, expected $2)"
        failures=$((failures + 1))
    else
        echo "ok: $1"
    fi
}

expected='Value                Type          Content
-------------------  ------------  ----------------------------------------
QV_AutoCfgDisk       REG_MULTI_SZ  "HDD", "320 GB"
QV_AutoCfgFinisher   REG_MULTI_SZ  (empty list)
QV_AutoCfgPunchUnit  -             (not written)
QV_AutoCfgCassettes  REG_MULTI_SZ  "A4"
QV_AutoCfgSuccess    REG_BINARY    01
QV_AutoComName       REG_SZ        "a \"b\" \\c"
QV_AutoTimeOut       REG_SZ        ""'
check all-written 0 <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Printers\P\PrinterDriverData]
"QV_AutoCfgCassettes"=hex(7):41,00,34,00,00,00,00,00
"QV_AutoCfgDisk"=hex(7):48,00,44,00,44,00,00,00,33,00,32,00,30,00,20,00,47,00,\
  42,00,00,00,00,00
"QV_AutoCfgFinisher"=hex(7):00,00
"QV_AutoCfgSuccess"=hex:01
"QV_AutoComName"="a \"b\" \\c"
"QV_AutoTimeOut"=""
REG

expected='Value                Type        Content
-------------------  ----------  ----------------------------------------
QV_AutoCfgDisk       -           (not written)
QV_AutoCfgFinisher   -           (not written)
QV_AutoCfgPunchUnit  -           (not written)
QV_AutoCfgCassettes  -           (not written)
QV_AutoCfgSuccess    REG_BINARY  00
QV_AutoComName       -           (not written)
QV_AutoTimeOut       -           (not written)'
check cancelled 1 <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Printers\P\PrinterDriverData]
"QV_AutoCfgSuccess"=hex:00
REG

[ $failures -eq 0 ]
