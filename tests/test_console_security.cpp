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
    } cases[] = {
        {"SNMPv3 keys", 1, 0, true},
        {"SNMPv1: an empty block", 0, 0, true},
        {"a block cut short", 1, 5, false},
        {"nothing at all", 1, -1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        PasswordVariables variables;
        ConsoleOptions options = ShaAesOptions();
        char error[LONG_TEXT_SIZE];
        VrSnmpSecurity parent;
        if (c.v3) {
            ASSERT_EQ(LoadV3Security(&options, error, COUNTOF(error)), 1) << error;
        }
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
    char *environment = MakeChildEnvironment();
    ASSERT_NE(environment, nullptr);
    bool other = false;
    for (const char *entry = environment; *entry != '\0'; entry += strlen(entry) + 1) {
        EXPECT_NE(strncmp(entry, "VR_SNMP_AUTH_PASSWORD=", 22), 0) << entry;
        EXPECT_NE(strncmp(entry, "VR_SNMP_PRIV_PASSWORD=", 22), 0) << entry;
        other |= strcmp(entry, "VR_SNMP_OTHER=kept") == 0;
    }
    free(environment);
    EXPECT_TRUE(other);
    SetEnvironmentVariableA("VR_SNMP_OTHER", NULL);

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

} // namespace
