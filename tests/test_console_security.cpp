// VRAutoDetect.exe's SNMPv3 secrets (console/security.cpp): the passwords
// turned into keys once and wiped at once, nothing of the run left after it,
// the handover to a child of --all, and who may read the secrets file,
// judged on access lists made here (Wine keeps none on its files).
#include "console/console.h"
#include "snmp/snmp_engine.h"
#include "common/text.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <string.h>
#include <string>
#include <wchar.h>

namespace {

bool AllZero(const void *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        if (((const unsigned char *)bytes)[i] != 0)
            return false;
    }
    return true;
}

ConsoleOptions ShaAesOptions()
{
    ConsoleOptions options;
    memset(&options, 0, sizeof(options));
    options.hasV3User = options.hasV3Auth = options.hasV3Priv = 1;
    CopyText(options.v3User, COUNTOF(options.v3User), "shaaes");
    options.v3Auth = VR_SNMP_AUTH_SHA;
    options.v3Priv = VR_SNMP_PRIV_AES;
    return options;
}

struct PasswordVariables {
    PasswordVariables()
    {
        SetEnvironmentVariableA("VR_SNMP_AUTH_PASSWORD", "shaaes-auth");
        SetEnvironmentVariableA("VR_SNMP_PRIV_PASSWORD", "shaaes-priv");
    }
    ~PasswordVariables()
    {
        SetEnvironmentVariableA("VR_SNMP_AUTH_PASSWORD", NULL);
        SetEnvironmentVariableA("VR_SNMP_PRIV_PASSWORD", NULL);
    }
};

TEST(ConsoleSecurity, PasswordsBecomeKeysAtOnceAndTheRunLeavesNothing)
{
    PasswordVariables variables;
    ConsoleOptions options = ShaAesOptions();
    char error[LONG_TEXT_SIZE];
    ASSERT_EQ(LoadV3Security(&options, error, COUNTOF(error)), 1) << error;
    const VrSnmpSecurity &v3 = g_snmpSecurity.v3;
    EXPECT_EQ(v3.keysMade, 1);
    EXPECT_TRUE(AllZero(v3.authPassword, sizeof(v3.authPassword)));
    EXPECT_TRUE(AllZero(v3.privPassword, sizeof(v3.privPassword)));
    EXPECT_FALSE(AllZero(v3.authKey, 20));
    EXPECT_FALSE(AllZero(v3.privKey, 20));
    // Read once, then gone from the environment that workers and tools get.
    char left[64];
    EXPECT_EQ(GetEnvironmentVariableA("VR_SNMP_AUTH_PASSWORD", left, sizeof(left)), 0u);
    EXPECT_EQ(GetEnvironmentVariableA("VR_SNMP_PRIV_PASSWORD", left, sizeof(left)), 0u);

    WipeV3Security();
    EXPECT_TRUE(AllZero(&g_snmpSecurity.v3, sizeof(g_snmpSecurity.v3)));
    EXPECT_EQ(g_snmpSecurity.version, 1);
}

TEST(ConsoleSecurity, HandoverCarriesTheKeysAndNothingElse)
{
    struct Case {
        const char *label;
        int v3;                     // the parent's run is SNMPv3
        int cut;                    // bytes of the block withheld
        bool child;                 // the child takes it
        const char *community;      // the parent's --community; NULL: none
    } cases[] = {
        {"SNMPv3 keys", 1, 0, true, NULL},
        {"SNMPv1: no keys", 0, 0, true, NULL},
        {"SNMPv1 with --community", 0, 0, true, "s3cret-c\xc3\xa4"},
        {"a block cut short", 1, 5, false, NULL},
        {"a header cut short", 0, 5, false, "s3cret-c"},
        {"nothing at all", 1, -1, false, NULL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        PasswordVariables variables;
        ConsoleOptions options = ShaAesOptions();
        char error[LONG_TEXT_SIZE];
        VrSnmpSecurity parent;
        ConsoleOptions parentOptions = c.v3 ? options : ConsoleOptions();
        if (c.community != NULL) {
            parentOptions.hasCommunity = 1;
            CopyText(parentOptions.community, COUNTOF(parentOptions.community), c.community);
        }
        ASSERT_EQ(LoadV3Security(&parentOptions, error, COUNTOF(error)), 1) << error;
        parent = g_snmpSecurity.v3;

        HANDLE readEnd = NULL, writeEnd = NULL;
        ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, NULL, 1 << 16));
        if (c.cut >= 0) {
            HANDLE into = writeEnd;
            HANDLE scratchRead = NULL, scratch = NULL;
            if (c.cut > 0) {
                ASSERT_TRUE(CreatePipe(&scratchRead, &scratch, NULL, 1 << 16));
                into = scratch;
            }
            ASSERT_EQ(WriteV3Handover(into), 1);
            if (c.cut > 0) {
                char block[sizeof(VrSnmpSecurity) + 64];
                DWORD got = 0, written = 0;
                CloseHandle(scratch);
                ReadFile(scratchRead, block, sizeof(block), &got, NULL);
                CloseHandle(scratchRead);
                WriteFile(writeEnd, block, got - (DWORD)c.cut, &written, NULL);
            }
        }
        CloseHandle(writeEnd);
        WipeV3Security();

        // The child: no password variable, its options from the command line.
        SetEnvironmentVariableA("VR_SNMP_AUTH_PASSWORD", NULL);
        SetEnvironmentVariableA("VR_SNMP_PRIV_PASSWORD", NULL);
        options.child = 1;
        options.hasV3User = c.v3;
        int read = ReadV3Handover(readEnd, error, COUNTOF(error));
        CloseHandle(readEnd);
        EXPECT_EQ(read, c.child ? 1 : 0);
        if (!c.child) {
            EXPECT_NE(std::string(error).find("handover"), std::string::npos) << error;
            continue;
        }
        ASSERT_EQ(LoadV3Security(&options, error, COUNTOF(error)), 1) << error;
        ConsoleOptions worker;
        memset(&worker, 0, sizeof(worker));
        EXPECT_EQ(TakeHandedCommunity(&worker), c.community != NULL ? 1 : 0);
        EXPECT_EQ(worker.hasCommunity, c.community != NULL ? 1 : 0);
        EXPECT_STREQ(worker.community, c.community != NULL ? c.community : "");
        if (c.v3) {
            EXPECT_EQ(memcmp(&g_snmpSecurity.v3, &parent, sizeof(parent)), 0);
            EXPECT_TRUE(AllZero(g_snmpSecurity.v3.authPassword,
                                sizeof(g_snmpSecurity.v3.authPassword)));
        } else {
            EXPECT_EQ(g_snmpSecurity.version, 1);
        }
        WipeV3Security();
    }
}

TEST(ConsoleSecurity, ChildRefusesPasswordVariablesAndTheirEnvironmentHasNone)
{
    PasswordVariables variables;
    SetEnvironmentVariableA("VR_SNMP_OTHER", "kept");
    // Outside the ANSI code page: the wide block keeps it as it is.
    SetEnvironmentVariableW(L"VR_TEMP_WIDE", L"C:\\T\u0142\u5370");
    WCHAR *environment = MakeChildEnvironment();
    ASSERT_NE(environment, nullptr);
    bool other = false, wide = false;
    for (const WCHAR *entry = environment; *entry != 0; entry += wcslen(entry) + 1) {
        EXPECT_NE(_wcsnicmp(entry, L"VR_SNMP_AUTH_PASSWORD=", 22), 0);
        EXPECT_NE(_wcsnicmp(entry, L"VR_SNMP_PRIV_PASSWORD=", 22), 0);
        other |= wcscmp(entry, L"VR_SNMP_OTHER=kept") == 0;
        wide |= wcscmp(entry, L"VR_TEMP_WIDE=C:\\T\u0142\u5370") == 0;
    }
    free(environment);
    EXPECT_TRUE(other);
    EXPECT_TRUE(wide);
    SetEnvironmentVariableA("VR_SNMP_OTHER", NULL);
    SetEnvironmentVariableW(L"VR_TEMP_WIDE", NULL);

    // A child that finds one anyway refuses to ask.
    ConsoleOptions options = ShaAesOptions();
    options.child = 1;
    char error[LONG_TEXT_SIZE];
    EXPECT_EQ(LoadV3Security(&options, error, COUNTOF(error)), 0);
    EXPECT_NE(std::string(error).find("reached the detection process"), std::string::npos)
        << error;
}

// The running account's SID as SDDL text.
std::string RunningAccount()
{
    HANDLE token = NULL;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD got = 0;
    char *text = NULL;
    std::string sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &got) &&
        ConvertSidToStringSidA(((TOKEN_USER *)buffer)->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    if (token != NULL)
        CloseHandle(token);
    return sid;
}

// SDDL with "ME" standing for the running account.
std::string WithAccount(const char *sddl, const std::string &me)
{
    std::string text = sddl;
    for (size_t at; (at = text.find("ME")) != std::string::npos;)
        text.replace(at, 2, me);
    return text;
}

TEST(ConsoleSecurity, SecretsFileOnlyForTrustedOwnerAndReaders)
{
    const std::string me = RunningAccount();
    ASSERT_FALSE(me.empty());
    struct Case {
        const char *sddl;           // without a D: part: no access list at all
        const char *who;            // named in the refusal; NULL: accepted
    } cases[] = {
        {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", NULL},
        {"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;ME)", NULL},
        {"O:MED:P(A;;FR;;;ME)", NULL},
        {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)", "Everyone may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;GR;;;BU)", "Users may read"},
        {"O:BAD:P(A;;FA;;;BA)(A;;FA;;;AU)", "Authenticated Users may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;GA;;;WD)", "Everyone may read"},   // a generic right
        {"O:BAD:P(A;;FA;;;SY)(A;;FR;;;IU)", "INTERACTIVE may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;FR;;;BG)", "Guests may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;FR;;;S-1-5-21-1-2-3-1001)", "S-1-5-21-1-2-3-1001 may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;WD;;;BU)", "Users may change who may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;WO;;;AU)", "Authenticated Users may change who may read"},
        {"O:BAD:P(A;;FA;;;SY)(A;;GW;;;WD)", "Everyone may change who may read"},
        {"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;FA;;;BA)", "owned by S-1-5-21-1-2-3-1001"},
        {"O:BUD:P(A;;FA;;;SY)", "owned by BUILTIN\\Users"},
        {"O:BAD:P(A;;FA;;;SY)(A;;FW;;;WD)", NULL},                  // may write data, not read
        {"O:BAD:P(D;;FA;;;WD)(A;;FA;;;WD)(A;;FA;;;SY)", NULL},      // denied first
        {"O:BAD:P(D;;GA;;;WD)(A;;GA;;;WD)(A;;FA;;;SY)", NULL},
        {"O:BAD:P(D;;FR;;;WD)(A;;FA;;;WD)(A;;FA;;;SY)", "Everyone may change who may read"},
        {"O:BAD:P(A;;FA;;;WD)(D;;FA;;;WD)(A;;FA;;;SY)", "Everyone may read"},  // denied too late
        {"O:BAD:P(A;OICIIO;FA;;;WD)(A;;FA;;;SY)", NULL},            // for children only
        {"O:BA", "no access list"},
    };
    for (const Case &c : cases) {
        std::string sddl = WithAccount(c.sddl, me);
        SCOPED_TRACE(sddl);
        PSECURITY_DESCRIPTOR descriptor = NULL;
        PACL dacl = NULL;
        PSID owner = NULL;
        BOOL present = FALSE, defaulted = FALSE;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, NULL));
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
        char error[LONG_TEXT_SIZE] = "";
        int ok = CheckSecretsSecurity(owner, dacl, present, "C:\\VR\\snmpv3.secrets", error,
                                      COUNTOF(error));
        LocalFree(descriptor);
        EXPECT_EQ(ok, c.who == NULL ? 1 : 0) << error;
        if (c.who != NULL) {
            EXPECT_NE(std::string(error).find(c.who), std::string::npos) << error;
            EXPECT_NE(std::string(error).find("\"C:\\VR\\snmpv3.secrets\""), std::string::npos)
                << error;
        }
    }
}

// The random names CreateUniqueFile tries, in turn: each call gives the
// next of these bytes.
int s_nameCalls;
int PlantedRandom(BYTE *bytes, ULONG size)
{
    memset(bytes, 0x10 + s_nameCalls++ % 2, size);
    return 1;
}

std::string ReadAll(const std::string &path)
{
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    char buffer[256];
    size_t got;
    while (file != NULL && (got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        text.append(buffer, got);
    if (file != NULL)
        fclose(file);
    return text;
}

TEST(ConsoleAdminFiles, TemporaryNameIsNewAndNeverAPlantedOne)
{
    char directory[MAX_PATH], base[MAX_PATH], path[MAX_PATH + 64];
    ASSERT_NE(GetTempPathA(COUNTOF(directory), directory), 0u);
    FormatText(base, COUNTOF(base), "%svr-admin-%lu.json", directory, GetCurrentProcessId());
    // The first name is taken (24 hex digits of 0x10): the second is made.
    std::string first = std::string(base) + ".101010101010101010101010.partial";
    std::string second = std::string(base) + ".111111111111111111111111.partial";
    FILE *plant = fopen(first.c_str(), "wb");
    ASSERT_NE(plant, nullptr);
    fputs("planted", plant);
    fclose(plant);

    int (*saved)(BYTE *, ULONG) = g_fillNameRandom;
    g_fillNameRandom = PlantedRandom;
    s_nameCalls = 0;
    SetLastError(0xdeadbeef);
    HANDLE file = CreateUniqueFile(base, ".partial", path, COUNTOF(path));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "mine", 4, &written, NULL));
    CloseHandle(file);
    EXPECT_EQ(std::string(path), second);
    EXPECT_EQ(s_nameCalls, 2);
    EXPECT_EQ(ReadAll(first), "planted");
    EXPECT_EQ(ReadAll(second), "mine");

    // Every name taken: no file, and why.
    FILE *both = fopen(second.c_str(), "ab");
    if (both != NULL)
        fclose(both);
    s_nameCalls = 0;
    SetLastError(0xdeadbeef);
    file = CreateUniqueFile(base, ".partial", path, COUNTOF(path));
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_EQ(s_nameCalls, 8);
    EXPECT_EQ(ReadAll(first), "planted");
    EXPECT_EQ(ReadAll(second), "mine");
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    g_fillNameRandom = saved;
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
}

TEST(ConsoleAdminFiles, MadeWithAProtectedListOfTheTrustedAccounts)
{
    SECURITY_ATTRIBUTES attributes;
    ASSERT_EQ(MakeAdminSecurity(&attributes), 1);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorControl(attributes.lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    ASSERT_TRUE(GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl,
                                          &defaulted));
    ASSERT_TRUE(present && dacl != NULL);
    ASSERT_EQ(dacl->AceCount, 3);
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = NULL;
        ASSERT_TRUE(GetAce(dacl, i, (LPVOID *)&ace));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & INHERITED_ACE, 0);
        EXPECT_EQ(IsTrustedAccount((PSID)&ace->SidStart), 1) << i;
    }
    FreeAdminSecurity(&attributes);
    EXPECT_EQ(attributes.lpSecurityDescriptor, nullptr);
}

TEST(ConsoleAdminFiles, ExistingLogOnlyWhenOwnedByATrustedAccountWithOneLink)
{
    const std::string me = RunningAccount();
    struct Case {
        const char *owner;          // SDDL of the owner
        DWORD attributes;
        DWORD links;
        const char *said;           // NULL: used
    } cases[] = {
        {"SY", FILE_ATTRIBUTE_ARCHIVE, 1, NULL},
        {"BA", FILE_ATTRIBUTE_NORMAL, 1, NULL},
        {"ME", FILE_ATTRIBUTE_ARCHIVE, 1, NULL},
        {"BU", FILE_ATTRIBUTE_ARCHIVE, 1, "is owned by BUILTIN\\Users, not by SYSTEM"},
        {"S-1-5-21-1-2-3-1001", FILE_ATTRIBUTE_ARCHIVE, 1, "is owned by S-1-5-21-1-2-3-1001"},
        {"IU", FILE_ATTRIBUTE_ARCHIVE, 1, "is owned by NT AUTHORITY\\INTERACTIVE"},
        {"BA", FILE_ATTRIBUTE_ARCHIVE, 2, "has 2 links"},
        {"SY", FILE_ATTRIBUTE_ARCHIVE, 0, "has 0 links"},
        {"BA", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, "is a link (a reparse point)"},
    };
    for (const Case &c : cases) {
        std::string sddl = WithAccount((std::string("O:") + c.owner).c_str(), me);
        SCOPED_TRACE(sddl);
        PSECURITY_DESCRIPTOR descriptor = NULL;
        PSID owner = NULL;
        BOOL defaulted = FALSE;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, NULL));
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
        char error[LONG_TEXT_SIZE] = "";
        int ok = JudgeExistingLog(owner, c.attributes, c.links, "C:\\VR\\history.log", error,
                                  COUNTOF(error));
        LocalFree(descriptor);
        EXPECT_EQ(ok, c.said == NULL ? 1 : 0) << error;
        if (c.said != NULL) {
            EXPECT_EQ(std::string(error).find("--log: \"C:\\VR\\history.log\" "), 0u) << error;
            EXPECT_NE(std::string(error).find(c.said), std::string::npos) << error;
        }
    }
}

} // namespace
