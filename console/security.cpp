// SNMPv3 for VRAutoDetect.exe: the protocols' names, and the passwords into
// the engine's security setting. Passwords come only from the environment or
// from a file of the administrator's that no ordinary user may read (never
// from the command line, which other users of the machine can read); no
// message names one. They are turned into keys once per run and wiped at
// once; the keys are wiped when the run is done. The children of --all get
// the keys through their standard input, never through their environment.
#include "console/console.h"
#include "common/text.h"
#include "snmp/snmp_engine.h"

#include <aclapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum {
    // Two lines of at most 128 characters and their keys, in UTF-16 or UTF-8.
    SECRETS_FILE_MAX = 2048,
    SECRETS_TEXT_SIZE = SECRETS_FILE_MAX / 2 * UTF8_PER_UNIT + 1,
    HANDOVER_MAGIC = 0x4B335256 // "VR3K"
};

// What a parent of --all writes first on a child's standard input: this
// header, with the community the command line gave (never on the child's
// command line, which process auditing records), then `size` bytes:
// nothing (SNMPv1) or the run's credentials with the keys made and the
// passwords empty.
struct V3Handover {
    DWORD magic;
    DWORD size;
    DWORD hasCommunity;
    char community[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
};

// The keys a child of --all was handed, until LoadV3Security takes them.
static VrSnmpSecurity s_handedOver;
// The parent's --community for its children; in a child, the one handed
// over until TakeHandedCommunity takes it.
static int s_hasCommunity;
static char s_community[SHORT_TEXT_SIZE * UTF8_PER_UNIT];
static int ChildSeesPasswordVariable(void);

static const char AUTH_VARIABLE[] = "VR_SNMP_AUTH_PASSWORD";
static const char PRIV_VARIABLE[] = "VR_SNMP_PRIV_PASSWORD";
static const WCHAR AUTH_VARIABLE_WIDE[] = L"VR_SNMP_AUTH_PASSWORD";
static const WCHAR PRIV_VARIABLE_WIDE[] = L"VR_SNMP_PRIV_PASSWORD";

struct ProtocolName {
    const char *name;
    int protocol;
};
static const ProtocolName AUTH_NAMES[] = {
    {"MD5", VR_SNMP_AUTH_MD5}, {"SHA", VR_SNMP_AUTH_SHA}, {"SHA1", VR_SNMP_AUTH_SHA},
    {"SHA256", VR_SNMP_AUTH_SHA256}, {"SHA-256", VR_SNMP_AUTH_SHA256},
};
static const ProtocolName PRIV_NAMES[] = {
    {"AES", VR_SNMP_PRIV_AES}, {"AES128", VR_SNMP_PRIV_AES}, {"none", VR_SNMP_PRIV_NONE},
};

static int FindProtocol(const ProtocolName *names, size_t count, const char *text, int *protocol)
{
    for (size_t i = 0; i < count; i++) {
        if (lstrcmpiA(names[i].name, text) == 0) {
            *protocol = names[i].protocol;
            return 1;
        }
    }
    return 0;
}

int ParseAuthProtocol(const char *text, int *protocol)
{
    return FindProtocol(AUTH_NAMES, COUNTOF(AUTH_NAMES), text, protocol);
}

int ParsePrivProtocol(const char *text, int *protocol)
{
    return FindProtocol(PRIV_NAMES, COUNTOF(PRIV_NAMES), text, protocol);
}

const char *AuthProtocolName(int protocol)
{
    switch (protocol) {
    case VR_SNMP_AUTH_MD5: return "MD5";
    case VR_SNMP_AUTH_SHA: return "SHA";
    case VR_SNMP_AUTH_SHA256: return "SHA256";
    default: return "none";
    }
}

const char *PrivProtocolName(int protocol)
{
    return protocol == VR_SNMP_PRIV_AES ? "AES" : "none";
}

const char *SecurityLevelName(const ReportSecurity *security)
{
    if (security->authProtocol == VR_SNMP_AUTH_NONE)
        return "noAuthNoPriv";
    return security->privProtocol == VR_SNMP_PRIV_NONE ? "authNoPriv" : "authPriv";
}

static int SetError(char *error, size_t errorSize, const char *format, const char *name)
{
    FormatText(error, errorSize, format, name);
    return 0;
}

// The file's bytes as UTF-8 text, as editors and shells write it: UTF-8 with
// or without its byte-order mark, or UTF-16 LE with its mark (Windows
// PowerShell's ">"). Anything else is named, never shown: 0 and the error.
static int DecodeSecretsFile(const unsigned char *bytes, DWORD count, char *text,
                             size_t textSize, const char *path, char *error, size_t errorSize)
{
    WCHAR wide[SECRETS_FILE_MAX / 2 + 1];
    const char *found = NULL;
    text[0] = '\0';
    if (count >= 4 && memcmp(bytes, "\xFF\xFE\0\0", 4) == 0) {
        found = "is UTF-32";
    } else if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        found = "is UTF-16 big-endian";
    } else if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        DWORD units = (count - 2) / 2;
        if ((count - 2) % 2 != 0) {
            found = "is cut inside a UTF-16 character";
        } else {
            memcpy(wide, bytes + 2, units * sizeof(WCHAR));
            wide[units] = 0;
            if (wcslen(wide) != units)
                found = "holds a NUL character";
            else if (units > 0 && WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide,
                                                      (int)units + 1, text, (int)textSize, NULL,
                                                      NULL) <= 0)
                found = "holds UTF-16 that is not text (a lone surrogate)";
        }
    } else {
        DWORD skip = count >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
        if (memchr(bytes, 0, count) != NULL)
            found = "holds a NUL byte (UTF-16 without a byte-order mark?)";
        else if (count > skip && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                                     (const char *)bytes + skip,
                                                     (int)(count - skip), NULL, 0) <= 0)
            found = "is neither UTF-8 nor UTF-16 with a byte-order mark (another code page?)";
        else
            CopyTextN(text, textSize, (const char *)bytes + skip, count - skip);
    }
    SecureZeroMemory(wide, sizeof(wide));
    if (found == NULL)
        return 1;
    SecureZeroMemory(text, textSize);
    FormatText(error, errorSize, "--v3-secrets: the file \"%s\" %s; save it as UTF-8 or as "
               "UTF-16 LE", path, found);
    return 0;
}

static int CheckOpenSecretsFile(HANDLE file, const char *path, char *error, size_t errorSize);

// The secrets file's lines auth=... and priv=... (CR LF or LF) into the
// setting's passwords; a password there wins over the environment's.
// Nothing of a line is ever quoted in a message.
static int ReadSecretsFile(const char *path, char *error, size_t errorSize)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned char bytes[SECRETS_FILE_MAX];
    char text[SECRETS_TEXT_SIZE];
    WCHAR widePath[PATH_TEXT_SIZE];
    DWORD got = 0;
    int ok = 0;
    int lineNumber = 0;

    text[0] = '\0';
    Utf8ToWide(path, widePath, COUNTOF(widePath));
    file = CreateFileW(widePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        FormatText(error, errorSize, "--v3-secrets: the file \"%s\" cannot be read (error %lu)",
                   path, GetLastError());
        goto done;
    }
    if (!CheckOpenSecretsFile(file, path, error, errorSize))
        goto done;
    if (!ReadFile(file, bytes, SECRETS_FILE_MAX, &got, NULL)) {
        FormatText(error, errorSize, "--v3-secrets: the file \"%s\" cannot be read (error %lu)",
                   path, GetLastError());
        goto done;
    }
    if (got == SECRETS_FILE_MAX) {
        SetError(error, errorSize, "--v3-secrets: the file \"%s\" is longer than two lines of "
                                   "passwords", path);
        goto done;
    }
    if (!DecodeSecretsFile(bytes, got, text, COUNTOF(text), path, error, errorSize))
        goto done;
    for (char *line = text; *line != '\0';) {
        char *end = line + strcspn(line, "\r\n");
        char *next = end + strspn(end, "\r\n");
        char *password = NULL;
        size_t room = 0;
        *end = '\0';
        lineNumber++;
        if (strncmp(line, "auth=", 5) == 0) {
            password = g_snmpSecurity.v3.authPassword;
            room = COUNTOF(g_snmpSecurity.v3.authPassword);
        } else if (strncmp(line, "priv=", 5) == 0) {
            password = g_snmpSecurity.v3.privPassword;
            room = COUNTOF(g_snmpSecurity.v3.privPassword);
        } else if (line[0] != '\0') {
            FormatText(error, errorSize, "--v3-secrets: line %d of \"%s\" is neither auth=... "
                       "nor priv=...", lineNumber, path);
            goto done;
        }
        if (password != NULL) {
            if (strlen(line + 5) >= room) {
                FormatText(error, errorSize, "--v3-secrets: the password on line %d of \"%s\" "
                           "is longer than %d characters", lineNumber, path, VR_SNMP_MAX_PASSWORD);
                goto done;
            }
            CopyText(password, room, line + 5);
        }
        line = next;
    }
    ok = 1;
done:
    SecureZeroMemory(bytes, sizeof(bytes));
    SecureZeroMemory(text, sizeof(text));
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

// ---- who may read the secrets file ---------------------------------------

// What an entry must not grant anyone but SYSTEM, the Administrators and the
// running account: reading, or changing the list or the owner (which gives
// reading next); a generic right holds some of these.
static const DWORD READ_RIGHTS = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
static const DWORD CONTROL_RIGHTS = WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_EXECUTE;

// An allow list: the owner and every entry that grants one of those rights
// must be a trusted account. Rights the same account was denied by an
// earlier entry are not granted (the system reads the list in order).
int CheckSecretsSecurity(PSID owner, const ACL *dacl, int present, const char *path,
                         char *error, size_t errorSize)
{
    static GENERIC_MAPPING FILE_MAPPING = {FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                                           FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    char account[LONG_TEXT_SIZE];
    if (!IsTrustedAccount(owner)) {
        DescribeAccount(owner, account, COUNTOF(account));
        FormatText(error, errorSize, "--v3-secrets: the file \"%s\" is owned by %s, who may "
                   "always let others read it: make SYSTEM or the Administrators its owner",
                   path, account);
        return 0;
    }
    if (!present || dacl == NULL) {
        FormatText(error, errorSize, "--v3-secrets: the file \"%s\" has no access list, so "
                   "everyone may read it: allow only the administrators and SYSTEM", path);
        return 0;
    }
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *ace = NULL;
        if (!GetAce((PACL)dacl, i, (LPVOID *)&ace)) {
            FormatText(error, errorSize, "--v3-secrets: entry %lu of the access list of \"%s\" "
                       "cannot be read", (unsigned long)(i + 1), path);
            return 0;
        }
        if ((ace->AceFlags & INHERIT_ONLY_ACE) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        ACCESS_ALLOWED_ACE *allow = (ACCESS_ALLOWED_ACE *)ace;
        PSID sid = (PSID)&allow->SidStart;
        DWORD granted = allow->Mask & (READ_RIGHTS | CONTROL_RIGHTS);
        if (granted == 0 || IsTrustedAccount(sid))
            continue;
        DWORD denied = 0;
        for (DWORD j = 0; j < i; j++) {
            ACE_HEADER *before = NULL;
            if (GetAce((PACL)dacl, j, (LPVOID *)&before) &&
                before->AceType == ACCESS_DENIED_ACE_TYPE &&
                !(before->AceFlags & INHERIT_ONLY_ACE) &&
                EqualSid(&((ACCESS_DENIED_ACE *)before)->SidStart, sid))
                denied |= ((ACCESS_DENIED_ACE *)before)->Mask;
        }
        MapGenericMask(&denied, &FILE_MAPPING);
        if ((denied & FILE_ALL_ACCESS) == FILE_ALL_ACCESS)
            continue;
        granted &= ~denied;
        if (granted == 0)
            continue;
        DescribeAccount(sid, account, COUNTOF(account));
        if (granted & READ_RIGHTS)
            FormatText(error, errorSize, "--v3-secrets: %s may read the file \"%s\": allow only "
                       "the administrators and SYSTEM", account, path);
        else
            FormatText(error, errorSize, "--v3-secrets: %s may change who may read the file "
                       "\"%s\" (entry %lu grants write-DAC, write-owner or a generic right): "
                       "allow only the administrators and SYSTEM", account, path,
                       (unsigned long)(i + 1));
        return 0;
    }
    return 1;
}

// On the open file, so that what is read is what was judged. A file system
// that keeps no access lists (FAT) answers without a list or fails: said,
// and the file is refused, since nothing then keeps other users out.
static int CheckOpenSecretsFile(HANDLE file, const char *path, char *error, size_t errorSize)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    int ok = 0;
    DWORD result = GetSecurityInfo(file, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                   NULL, &dacl, NULL, &descriptor);
    if (result != ERROR_SUCCESS ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        FormatText(error, errorSize, "--v3-secrets: who may read the file \"%s\" cannot be "
                   "checked (error %lu)", path, result != ERROR_SUCCESS ? result : GetLastError());
        goto done;
    }
    ok = CheckSecretsSecurity(owner, dacl, present, path, error, errorSize);
done:
    if (descriptor != NULL)
        LocalFree(descriptor);
    return ok;
}

// A password that the file did not give, from its environment variable;
// then its length as agents accept it.
static int TakePassword(char *password, size_t room, const char *variable, const char *what,
                        int fromFile, char *error, size_t errorSize)
{
    if (password[0] == '\0') {
        DWORD length = GetEnvironmentVariableA(variable, password, (DWORD)room);
        if (length >= room) {
            SecureZeroMemory(password, room);
            FormatText(error, errorSize, "the %s password in %s is longer than %d characters",
                       what, variable, VR_SNMP_MAX_PASSWORD);
            return 0;
        }
        if (length == 0) {
            password[0] = '\0';
            FormatText(error, errorSize, "no %s password: set %s%s", what, variable,
                       fromFile ? " or its line in the --v3-secrets file" : " or give --v3-secrets FILE");
            return 0;
        }
    }
    if (strlen(password) < VR_SNMP_MIN_PASSWORD) {
        FormatText(error, errorSize, "the %s password is shorter than %d characters", what,
                   VR_SNMP_MIN_PASSWORD);
        return 0;
    }
    return 1;
}

// The passwords the level uses, from the file or the environment; what it
// does not use is not kept.
static int TakePasswords(VrSnmpSecurity *v3, int fromFile, char *error, size_t errorSize)
{
    if (v3->authProtocol == VR_SNMP_AUTH_NONE)
        SecureZeroMemory(v3->authPassword, sizeof(v3->authPassword));
    if (v3->privProtocol == VR_SNMP_PRIV_NONE)
        SecureZeroMemory(v3->privPassword, sizeof(v3->privPassword));
    if (v3->authProtocol != VR_SNMP_AUTH_NONE &&
        !TakePassword(v3->authPassword, COUNTOF(v3->authPassword), AUTH_VARIABLE,
                      "authentication", fromFile, error, errorSize))
        return 0;
    if (v3->privProtocol != VR_SNMP_PRIV_NONE &&
        !TakePassword(v3->privPassword, COUNTOF(v3->privPassword), PRIV_VARIABLE, "privacy",
                      fromFile, error, errorSize))
        return 0;
    return 1;
}

int LoadV3Security(const ConsoleOptions *options, char *error, size_t errorSize)
{
    VrSnmpSecurity *v3 = &g_snmpSecurity.v3;
    int ok = 0;
    // Not the keys a child was handed: they are taken below.
    SecureZeroMemory(&g_snmpSecurity.v3, sizeof(g_snmpSecurity.v3));
    g_snmpSecurity.version = 1;
    error[0] = '\0';
    if (!options->child) {
        s_hasCommunity = options->hasCommunity;
        CopyText(s_community, COUNTOF(s_community), options->community);
    }
    if (!options->hasV3User)
        return 1;
    g_snmpSecurity.version = 3;
    CopyText(v3->userName, COUNTOF(v3->userName), options->v3User);
    v3->authProtocol = options->hasV3Auth ? options->v3Auth : VR_SNMP_AUTH_NONE;
    v3->privProtocol = options->v3Priv;
    if (options->child) {
        // Keys come over standard input (ReadV3Handover); a password
        // variable here means the parent let it through.
        if (ChildSeesPasswordVariable()) {
            CopyText(error, errorSize, "a password variable (VR_SNMP_..._PASSWORD) reached the "
                     "detection process of --all");
            goto failed;
        }
        if (!s_handedOver.keysMade) {
            CopyText(error, errorSize, "no SNMPv3 keys were handed over to the detection process");
            goto failed;
        }
        *v3 = s_handedOver;
        SecureZeroMemory(&s_handedOver, sizeof(s_handedOver));
        return 1;
    }
    if (options->hasV3Secrets && !ReadSecretsFile(options->v3Secrets, error, errorSize))
        goto failed;
    ok = TakePasswords(v3, options->hasV3Secrets, error, errorSize);
    // Read once: nothing started later (a worker, a tool) finds them.
    SetEnvironmentVariableW(AUTH_VARIABLE_WIDE, NULL);
    SetEnvironmentVariableW(PRIV_VARIABLE_WIDE, NULL);
    if (!ok)
        goto failed;
    // Once for the run: every walk's session localises these keys.
    if (VrSnmpMakeKeys(v3) == SNMPAPI_FAILURE) {
        CopyText(error, errorSize, "the SNMPv3 keys could not be made from the passwords "
                 "(the system's cryptography failed)");
        goto failed;
    }
    return 1;
failed:
    WipeV3Security();
    return 0;
}

void WipeV3Security(void)
{
    SecureZeroMemory(&g_snmpSecurity.v3, sizeof(g_snmpSecurity.v3));
    SecureZeroMemory(&s_handedOver, sizeof(s_handedOver));
    SecureZeroMemory(s_community, sizeof(s_community));
    s_hasCommunity = 0;
    g_snmpSecurity.version = 1;
}

// ---- the children of --all ------------------------------------------------

static int IsPasswordVariable(const WCHAR *entry)
{
    const WCHAR *equals = wcschr(entry, L'=');
    // "=C:=C:\..." entries: the name starts after the first character.
    if (equals == entry)
        equals = wcschr(entry + 1, L'=');
    size_t length = equals != NULL ? (size_t)(equals - entry) : wcslen(entry);
    static const WCHAR PREFIX[] = L"VR_SNMP_";
    static const WCHAR SUFFIX[] = L"_PASSWORD";
    size_t prefix = COUNTOF(PREFIX) - 1, suffix = COUNTOF(SUFFIX) - 1;
    return length >= prefix + suffix && _wcsnicmp(entry, PREFIX, prefix) == 0 &&
           _wcsnicmp(entry + length - suffix, SUFFIX, suffix) == 0;
}

static int ChildSeesPasswordVariable(void)
{
    WCHAR *block = GetEnvironmentStringsW();
    int found = 0;
    if (block == NULL)
        return 0;
    for (const WCHAR *entry = block; *entry != 0; entry += wcslen(entry) + 1)
        found |= IsPasswordVariable(entry);
    FreeEnvironmentStringsW(block);
    return found;
}

// Wide, so that a TEMP or PATH outside the ANSI code page reaches the
// worker as it is (CREATE_UNICODE_ENVIRONMENT).
WCHAR *MakeChildEnvironment(void)
{
    WCHAR *block = GetEnvironmentStringsW();
    WCHAR *copy = NULL;
    size_t units = 0;
    if (block == NULL)
        return NULL;
    for (const WCHAR *entry = block; *entry != 0; entry += wcslen(entry) + 1)
        units += wcslen(entry) + 1;
    copy = (WCHAR *)malloc((units + 2) * sizeof(WCHAR));
    if (copy != NULL) {
        WCHAR *out = copy;
        for (const WCHAR *entry = block; *entry != 0; entry += wcslen(entry) + 1) {
            size_t length = wcslen(entry) + 1;
            if (IsPasswordVariable(entry))
                continue;
            memcpy(out, entry, length * sizeof(WCHAR));
            out += length;
        }
        // An empty block still ends with two NULs.
        out[0] = 0;
        out[1] = 0;
    }
    FreeEnvironmentStringsW(block);
    return copy;
}

static int WriteAll(HANDLE pipe, const void *bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(pipe, bytes, size, &written, NULL) && written == size;
}

int WriteV3Handover(HANDLE pipe)
{
    V3Handover header;
    int ok = 0;
    memset(&header, 0, sizeof(header));
    header.magic = HANDOVER_MAGIC;
    header.hasCommunity = (DWORD)s_hasCommunity;
    CopyText(header.community, COUNTOF(header.community), s_community);
    if (g_snmpSecurity.version != 3) {
        ok = WriteAll(pipe, &header, sizeof(header));
    } else {
        header.size = sizeof(VrSnmpSecurity);
        ok = WriteAll(pipe, &header, sizeof(header)) &&
             WriteAll(pipe, &g_snmpSecurity.v3, sizeof(VrSnmpSecurity));
    }
    SecureZeroMemory(&header, sizeof(header));
    return ok;
}

int TakeHandedCommunity(ConsoleOptions *options)
{
    int had = s_hasCommunity;
    if (had) {
        options->hasCommunity = 1;
        CopyText(options->community, COUNTOF(options->community), s_community);
    }
    SecureZeroMemory(s_community, sizeof(s_community));
    s_hasCommunity = 0;
    return had;
}

static int ReadAll(HANDLE input, void *bytes, DWORD size)
{
    DWORD got = 0;
    while (got < size) {
        DWORD now = 0;
        if (!ReadFile(input, (char *)bytes + got, size - got, &now, NULL) || now == 0)
            return 0;
        got += now;
    }
    return 1;
}

int ReadV3Handover(HANDLE input, char *error, size_t errorSize)
{
    V3Handover header;
    memset(&header, 0, sizeof(header));
    SecureZeroMemory(&s_handedOver, sizeof(s_handedOver));
    SecureZeroMemory(s_community, sizeof(s_community));
    s_hasCommunity = 0;
    if (!ReadAll(input, &header, sizeof(header)) || header.magic != HANDOVER_MAGIC ||
        (header.size != 0 && header.size != sizeof(VrSnmpSecurity)) ||
        memchr(header.community, 0, sizeof(header.community)) == NULL) {
        SecureZeroMemory(&header, sizeof(header));
        CopyText(error, errorSize, "the detection process of --all got no handover block on "
                 "its standard input");
        return 0;
    }
    DWORD size = header.size;
    s_hasCommunity = header.hasCommunity != 0;
    CopyText(s_community, COUNTOF(s_community), header.community);
    SecureZeroMemory(&header, sizeof(header));
    if (size == 0)
        return 1;
    int ok = ReadAll(input, &s_handedOver, sizeof(s_handedOver));
    if (!ok || !s_handedOver.keysMade) {
        SecureZeroMemory(&s_handedOver, sizeof(s_handedOver));
        SecureZeroMemory(s_community, sizeof(s_community));
        s_hasCommunity = 0;
        CopyText(error, errorSize, "the detection process of --all got an incomplete handover "
                 "block");
        return 0;
    }
    return 1;
}
