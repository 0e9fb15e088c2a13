#!/bin/sh
# Unpacks the release package afresh into DIR with unzip (not the tool that
# packed it) and checks that it holds exactly the files an administrator
# needs, in one folder named like the package.
#   unpack.sh PACKAGE.zip DIR
set -eu
zip=$1
dir=$2
command -v unzip >/dev/null 2>&1 || { echo "unzip is missing (scripts/install-deps.sh)" >&2; exit 1; }
[ -f "$zip" ] || { echo "no package $zip: build it (make dist)" >&2; exit 1; }
name=$(basename "$zip" .zip)
rm -rf "$dir"
mkdir -p "$dir"
unzip -q "$zip" -d "$dir"
expected=$(printf '%s\n' "$name/" "$name/README.txt" "$name/SHA256SUMS" "$name/VRAutoConfig.exe" "$name/VRAutoDetect.exe" \
    "$name/VRPHCa.chm" "$name/VRPHDe.chm" "$name/VRPHFr.chm" "$name/VRPHIt.chm" \
    "$name/VRPHNl.chm" "$name/VRPHPt.chm" "$name/VRPHSp.chm" "$name/VRPHlp.chm" \
    "$name/VRQHSe.chm" "$name/VRUnPQ.xml")
listed=$(unzip -Z1 "$zip" | LC_ALL=C sort)
if [ "$listed" != "$expected" ]; then
    echo "the package holds:" >&2
    echo "$listed" >&2
    echo "expected:" >&2
    echo "$expected" >&2
    exit 1
fi
echo "unpacked $name into $dir"
