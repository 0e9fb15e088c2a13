#!/bin/sh
# Makes the release in OUT_DIR from the built files:
#   VRAutoConfig-VERSION-x64.zip         the files in one folder of that name,
#                                        with SHA256SUMS for every one of them
#   VRAutoConfig-VERSION-x64.zip.sha256  the zip's own SHA-256
#   VRAutoDetect-VERSION-x64.msi         the installer for print servers
#   VRAutoDetect-VERSION-x64.msi.sha256  its SHA-256
# The programs and the installer are signed with Authenticode (SHA-256)
# when VR_SIGN_PFX names a PFX file and VR_SIGN_PASSWORD_FILE a file
# holding its password (read by osslsigncode from that file: the password
# is never on a command line nor in the output); VR_SIGN_TIMESTAMP_URL, if
# set, names an RFC 3161 time-stamping server, so that the signatures stay
# valid after the certificate expires. Without a certificate the release is
# unsigned, and one line says so.
#   make-dist.sh OUT_DIR VERSION FILE...   (the files of the zip)
#   make-dist.sh --signing-state FILE      (rewrites FILE only when the
#                                           signing settings changed, so
#                                           that the build redoes the release)
# CMAKE names the cmake that packs the zip (default: cmake on PATH).
set -eu
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "make-dist.sh: $1" >&2
    [ -n "${work:-}" ] && rm -rf "$work"
    exit 1
}

work=
pfx=${VR_SIGN_PFX:-}
passwordFile=${VR_SIGN_PASSWORD_FILE:-}
timestampUrl=${VR_SIGN_TIMESTAMP_URL:-}

# What the signing depends on: the certificate's bytes (never the password).
signing_state() {
    if [ -z "$pfx" ] && [ -z "$passwordFile" ]; then
        echo "unsigned"
    elif [ -r "$pfx" ]; then
        echo "signed $pfx $(sha256sum <"$pfx" | cut -d' ' -f1) ${passwordFile} ${timestampUrl}"
    else
        echo "signed $pfx (unreadable) ${passwordFile} ${timestampUrl}"
    fi
}

if [ "${1:-}" = "--signing-state" ]; then
    [ $# -eq 2 ] || fail "usage: make-dist.sh --signing-state FILE"
    state=$(signing_state)
    if [ ! -f "$2" ] || [ "$(cat "$2")" != "$state" ]; then
        printf '%s\n' "$state" >"$2"
    fi
    exit 0
fi

[ $# -ge 3 ] || fail "usage: make-dist.sh OUT_DIR VERSION FILE..."
out=$1
version=$2
shift 2
zipName=VRAutoConfig-$version-x64
msiName=VRAutoDetect-$version-x64
cmake=${CMAKE:-cmake}

# A certificate is given completely or not at all: half of it is a mistake,
# not a wish for an unsigned release.
signing=
if [ -n "$pfx" ] || [ -n "$passwordFile" ]; then
    [ -n "$pfx" ] || fail "VR_SIGN_PASSWORD_FILE is set but VR_SIGN_PFX is not: set both to sign, neither to build unsigned"
    [ -n "$passwordFile" ] || fail "VR_SIGN_PFX is set but VR_SIGN_PASSWORD_FILE is not: set both to sign, neither to build unsigned"
    # The build runs this script in a folder of its own: a relative path
    # would name another file than the one meant.
    for path in "$pfx" "$passwordFile"; do
        case "$path" in
        /*) ;;
        *) fail "$path: VR_SIGN_PFX and VR_SIGN_PASSWORD_FILE must be absolute paths" ;;
        esac
    done
    [ -f "$pfx" ] && [ -r "$pfx" ] || fail "cannot read the certificate $pfx (VR_SIGN_PFX)"
    [ -f "$passwordFile" ] && [ -r "$passwordFile" ] ||
        fail "cannot read the password file $passwordFile (VR_SIGN_PASSWORD_FILE)"
    command -v osslsigncode >/dev/null 2>&1 || fail "osslsigncode is missing (scripts/install-deps.sh)"
    signing=yes
fi
for tool in wixl msiinfo msibuild sha256sum "$cmake"; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
done

# Nothing of an earlier release stays to be taken for this one; everything
# is made in a work folder and moved into place at the end.
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/$zipName.zip" "$out/$zipName.zip.sha256" "$out/$msiName.msi" "$out/$msiName.msi.sha256"
work=$out/.$zipName.work
rm -rf "$work"
mkdir -p "$work/$zipName" "$work/msi"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

for file in "$@"; do
    cp "$file" "$work/$zipName/" || fail "cannot copy $file"
done
for name in VRAutoConfig.exe VRAutoDetect.exe VRUnPQ.xml README.txt; do
    [ -f "$work/$zipName/$name" ] || fail "$name is not among the files given"
done

# sign FILE DESCRIPTION: signs FILE in place; osslsigncode's words are shown
# only when it fails.
sign() {
    file=$1
    description=$2
    set -- sign -pkcs12 "$pfx" -readpass "$passwordFile" -h sha256 -n "$description"
    [ -z "$timestampUrl" ] || set -- "$@" -ts "$timestampUrl"
    osslsigncode "$@" -in "$file" -out "$file.signed" >"$work/sign.log" 2>&1 || {
        cat "$work/sign.log" >&2
        fail "signing $(basename "$file") failed"
    }
    mv "$file.signed" "$file"
}

if [ -n "$signing" ]; then
    sign "$work/$zipName/VRAutoConfig.exe" "VR Universal Driver Auto Configuration"
    sign "$work/$zipName/VRAutoDetect.exe" "VR AutoDetect"
fi

# The checksums of every file in the zip, in the form sha256sum -c reads.
(cd "$work/$zipName" && LC_ALL=C sha256sum -- * >"$work/SHA256SUMS") || fail "sha256sum failed"
mv "$work/SHA256SUMS" "$work/$zipName/SHA256SUMS"
(cd "$work" && "$cmake" -E tar cf "$zipName.zip" --format=zip "$zipName") || fail "packing the zip failed"

# The installer: the console program (signed, if signing), its query map
# and the guide.
cp "$work/$zipName/VRAutoDetect.exe" "$work/$zipName/VRUnPQ.xml" "$work/$zipName/README.txt" "$work/msi/"
(cd "$work/msi" && wixl -a x64 -D Version="$version" -o "$work/$msiName.msi" "$here/VRAutoDetect.wxs") \
    >"$work/wixl.log" 2>&1 || { cat "$work/wixl.log" >&2; fail "wixl failed"; }
# wixl writes the older-builds row of the Upgrade table without its
# "maximum included" bit (512): set it, so that a build whose version
# differs only in the fourth field, which Windows Installer does not
# compare, replaces the installed one instead of installing beside it.
msiinfo export "$work/$msiName.msi" Upgrade >"$work/Upgrade.idt" || fail "reading the Upgrade table failed"
sed 's/\t256\t\tOLDER_BUILD_FOUND/\t768\t\tOLDER_BUILD_FOUND/' "$work/Upgrade.idt" >"$work/msi/Upgrade.idt"
grep -q "	768		OLDER_BUILD_FOUND" "$work/msi/Upgrade.idt" || fail "the Upgrade table is not as expected"
msibuild "$work/$msiName.msi" -i "$work/msi/Upgrade.idt" >"$work/msibuild.log" 2>&1 || fail "writing the Upgrade table failed"
# The site's query map is never replaced nor removed: wixl knows neither
# file searches nor permanent components, so the tables are written here.
# A search finds a VRUnPQ.xml already in the folder; the map's component
# is then not installed (its condition), so an upgrade leaves the site's
# map as it is; and the component is permanent (16), so neither the
# removal of the older build during an upgrade nor an uninstall deletes it.
msibuild "$work/$msiName.msi" \
    -q "CREATE TABLE \`DrLocator\` (\`Signature_\` CHAR(72) NOT NULL, \`Parent\` CHAR(72), \`Path\` CHAR(255), \`Depth\` SHORT PRIMARY KEY \`Signature_\`, \`Parent\`, \`Path\`)" \
    -q "INSERT INTO \`Signature\` (\`Signature\`, \`FileName\`) VALUES ('SiteQueryMap', 'VRUnPQ.xml')" \
    -q "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Path\`, \`Depth\`) VALUES ('SiteQueryMap', '[ProgramFiles64Folder]VR\\AutoDetect', 0)" \
    -q "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('SITE_QUERY_MAP', 'SiteQueryMap')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)" \
    -q "INSERT INTO \`InstallUISequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)" \
    -q "UPDATE \`Component\` SET \`Attributes\` = 272, \`Condition\` = 'NOT SITE_QUERY_MAP' WHERE \`Component\` = 'QueryMap'" \
    >>"$work/msibuild.log" 2>&1 || fail "writing the query map's tables failed"
msiinfo export "$work/$msiName.msi" Component | grep -q "	272	NOT SITE_QUERY_MAP	VRUnPQ.xml" \
    || fail "the query map's component is not as expected"
if [ -n "$signing" ]; then
    sign "$work/$msiName.msi" "VR AutoDetect $version"
    echo "$zipName: the programs and the installer are signed (Authenticode, SHA-256) with $pfx"
else
    echo "$zipName: NOT signed (set VR_SIGN_PFX and VR_SIGN_PASSWORD_FILE to sign the programs and the installer)"
fi

mv "$work/$zipName.zip" "$work/$msiName.msi" "$out/"
(cd "$out" && sha256sum "$zipName.zip" >"$zipName.zip.sha256" &&
    sha256sum "$msiName.msi" >"$msiName.msi.sha256") || fail "sha256sum failed"
echo "$zipName: $out/$zipName.zip, $out/$msiName.msi and their .sha256"
