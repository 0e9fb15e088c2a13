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

TEST(ConsoleSecurity, SecretsFileReadableByEveryoneIsRefused)
{
    struct Case {
        const char *sddl;           // NULL: no access list at all
        const char *who;            // named in the refusal; NULL: accepted
    } cases[] = {
        {"D:P(A;;FA;;;SY)(A;;FA;;;BA)", NULL},
        {"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)", "Everyone"},
        {"D:P(A;;FA;;;SY)(A;;GR;;;BU)", "Users"},
        {"D:P(A;;FA;;;BA)(A;;FA;;;AU)", "Authenticated Users"},
        {"D:P(A;;FA;;;SY)(A;;FW;;;WD)", NULL},                  // may write, not read
        {"D:P(D;;FA;;;WD)(A;;FA;;;WD)(A;;FA;;;SY)", NULL},      // denied first
        {"D:P(A;OICIIO;FA;;;WD)(A;;FA;;;SY)", NULL},            // for children only
        {NULL, "no access list"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sddl != NULL ? c.sddl : "no list");
        PSECURITY_DESCRIPTOR descriptor = NULL;
        PACL dacl = NULL;
        BOOL present = FALSE, defaulted = FALSE;
        if (c.sddl != NULL) {
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                c.sddl, SDDL_REVISION_1, &descriptor, NULL));
            ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        }
        char error[LONG_TEXT_SIZE] = "";
        int ok = CheckSecretsDacl(dacl, present, "C:\\VR\\snmpv3.secrets", error, COUNTOF(error));
        if (descriptor != NULL)
            LocalFree(descriptor);
        EXPECT_EQ(ok, c.who == NULL ? 1 : 0);
        if (c.who != NULL) {
            EXPECT_NE(std::string(error).find(c.who), std::string::npos) << error;
        }
    }
}

} // namespace
