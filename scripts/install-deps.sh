#!/bin/sh
# Installs the Debian packages that the build and the tests need, when any is
# missing. As root it installs them; otherwise it prints the line to run.
set -eu

# libclang-rt-dev: libFuzzer and the sanitizer runtimes that clang does not
# pull in; llvm: llvm-symbolizer for readable sanitizer reports; python3: the
# snmpd reply capture script and the test agents; bc: scripts/bench-walk.sh;
# fp-utils: chmcmd, which compiles the help files; unzip: the release
# package's test unpacks it with a tool other than the one that packed it;
# fonts-wine: Wine's Marlett, the font of the title bars' buttons, which the
# prefixes with a display take from it (tests/prefix/caption-font.sh);
# osslsigncode: Authenticode signatures of the release (package/make-dist.sh)
# and their check in its test; wixl and msitools (msiinfo, msibuild): the
# installer for print servers; openssl: the test's throwaway certificate;
# snmpsim: the tests' second agent, serving the walks of real devices it ships.
packages="cmake make g++ clang libclang-rt-dev llvm python3 bc mingw-w64 wine64 fonts-wine snmpd snmp googletest xvfb xdotool imagemagick locales fp-utils unzip osslsigncode wixl msitools openssl snmpsim"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages:$missing" >&2
    echo "Run as root: apt-get update && apt-get install -y$missing" >&2
    exit 1
fi
echo "Installing:$missing"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
