// Our WinSNMP's OID conversions: SnmpStrToOid (strict), SnmpMgrStrToOid
// (lenient), SnmpOidToStr and SnmpOidCompare.
#include "tests/winsnmp_support.h"

#include <gtest/gtest.h>
#include <mgmtapi.h>
#include <snmp.h>

namespace {

class WinSnmpOid : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SnmpStartup(NULL, NULL, NULL, NULL, NULL), SNMPAPI_SUCCESS); }
    void TearDown() override { SnmpCleanup(); }
};

std::string Repeat(const char *first, const char *piece, int count)
{
    std::string text = first;
    for (int i = 0; i < count; i++)
        text += piece;
    return text;
}

TEST_F(WinSnmpOid, StrToOidAcceptsStrictDottedDecimal)
{
    struct Case {
        std::string text;
        const char *expected;
    } cases[] = {
        {"1.3.6.1.2.1.1.3", ".1.3.6.1.2.1.1.3"},
        {"0.0", ".0.0"},
        {"1.39", ".1.39"},
        {"2.999.4294967295", ".2.999.4294967295"},
        {"2.4294967215", ".2.4294967215"},
        {"1.3.6.1.4.1.0.10", ".1.3.6.1.4.1.0.10"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        smiOID oid = {0, NULL};
        SNMPAPI_STATUS count = SnmpStrToOid(c.text.c_str(), &oid);
        EXPECT_EQ(count, Oid(c.expected).size());
        EXPECT_EQ(oid.len, count);
        EXPECT_EQ(OidText(oid), c.expected);
        EXPECT_EQ(SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&oid), SNMPAPI_SUCCESS);
        EXPECT_EQ(oid.ptr, nullptr);
    }

    // The longest OID there is: 128 sub-identifiers.
    smiOID oid = {0, NULL};
    EXPECT_EQ(SnmpStrToOid(Repeat("1.3", ".7", 126).c_str(), &oid), 128u);
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&oid);
}

TEST_F(WinSnmpOid, StrToOidRejectsEverythingElse)
{
    const std::string cases[] = {
        "", ".1.3.6.1", "1.3.6.1.", "1..3", "1.3.a", " 1.3", "1.3 ", "+1.3", "1.-3",
        "1.3.4294967296", "1.3.99999999999999999999", "2.4294967216", "1.3.01", "3.1", "1.40", "1", "1,3",
        "system.1", "1.3.6.1\n", Repeat("1.3", ".7", 127),
    };
    for (const std::string &text : cases) {
        SCOPED_TRACE("\"" + text + "\"");
        smiOID oid = {0x5A5A, NULL};
        EXPECT_EQ(SnmpStrToOid(text.c_str(), &oid), SNMPAPI_FAILURE);
        EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_OID_INVALID);
        EXPECT_EQ(oid.len, 0x5A5Au) << "the output must stay untouched";
        EXPECT_EQ(oid.ptr, nullptr);
    }
    smiOID oid = {0, NULL};
    EXPECT_EQ(SnmpStrToOid(NULL, &oid), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpStrToOid("1.3", NULL), SNMPAPI_FAILURE);
}

TEST_F(WinSnmpOid, MgrStrToOidTakesRelativeAbsoluteAndTreeNames)
{
    struct Case {
        std::string text;
        const char *expected;
    } cases[] = {
        {"1.0", ".1.3.6.1.2.1.1.0"},
        {"1.3.6.1.2.1.1.3", ".1.3.6.1.2.1.1.3.6.1.2.1.1.3"},   // relative, as the platform's
        {".1.3.6.1.4.1.9", ".1.3.6.1.4.1.9"},
        {".1.3.6.1.2.1.1.3", ".1.3.6.1.2.1.1.3"},
        {"system", ".1.3.6.1.2.1.1"},
        {"system.1.0", ".1.3.6.1.2.1.1.1.0"},
        {"interfaces.2.1.2.1", ".1.3.6.1.2.1.2.2.1.2.1"},
        {"at.1", ".1.3.6.1.2.1.3.1"},
        {"ip.20", ".1.3.6.1.2.1.4.20"},
        {"icmp.1.0", ".1.3.6.1.2.1.5.1.0"},
        {"tcp.5.0", ".1.3.6.1.2.1.6.5.0"},
        {"udp.1.0", ".1.3.6.1.2.1.7.1.0"},
        {"egp.1.0", ".1.3.6.1.2.1.8.1.0"},
        {"transmission.7", ".1.3.6.1.2.1.10.7"},
        {"snmp.1.0", ".1.3.6.1.2.1.11.1.0"},
        {"host.3.2.1.3", ".1.3.6.1.2.1.25.3.2.1.3"},
        {"printmib.5.1.1.1", ".1.3.6.1.2.1.43.5.1.1.1"},
        // Names of the tree anywhere it has them, mixed with numbers.
        {".iso.3.6.1.2.1.1", ".1.3.6.1.2.1.1"},
        {".iso.org.dod.internet.mgmt.mib-2.system.sysDescr.0", ".1.3.6.1.2.1.1.1.0"},
        {"system.sysDescr.0", ".1.3.6.1.2.1.1.1.0"},
        {"system.3", ".1.3.6.1.2.1.1.3"},
        {".1.3.6.1.4.1.2.3", ".1.3.6.1.4.1.2.3"},
        {".iso.org.dod.internet.private.enterprises.2.3", ".1.3.6.1.4.1.2.3"},
        {".1.3.6.1.private.enterprises.55555", ".1.3.6.1.4.1.55555"},
        {".1.3.6.1.4.enterprises.9", ".1.3.6.1.4.1.9"},
        {".iso.org.dod.internet.directory", ".1.3.6.1.1"},
        {".iso.org.dod.internet.experimental.7", ".1.3.6.1.3.7"},
        {".1.3.6.1.2.mib-2.ip.20", ".1.3.6.1.2.1.4.20"},
        {".1.3.6.1.2.1.system.sysName.0", ".1.3.6.1.2.1.1.5.0"},
        {"1.sysObjectID.0", ".1.3.6.1.2.1.1.2.0"},
        {"system.sysUpTime", ".1.3.6.1.2.1.1.3"},
        {"system.sysContact.0", ".1.3.6.1.2.1.1.4.0"},
        {"system.sysLocation.0", ".1.3.6.1.2.1.1.6.0"},
        {"system.sysServices.0", ".1.3.6.1.2.1.1.7.0"},
        {"system.sysORLastChange.0", ".1.3.6.1.2.1.1.8.0"},
        {"system.sysORTable.1.2", ".1.3.6.1.2.1.1.9.1.2"},
        {Repeat("1", ".2", 121), nullptr},                   // 6 + 122 = 128: the limit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        AsnObjectIdentifier oid = {0, NULL};
        ASSERT_TRUE(SnmpMgrStrToOid((LPSTR)c.text.c_str(), &oid));
        smiOID view = {oid.idLength, (smiLPUINT32)oid.ids};
        if (c.expected != nullptr)
            EXPECT_EQ(OidText(view), c.expected);
        else
            EXPECT_EQ(oid.idLength, 128u);
        // The utility API's release works on it (same allocator).
        SnmpUtilOidFree(&oid);
    }

    // The engine may release it as a WinSNMP descriptor as well.
    AsnObjectIdentifier oid = {0, NULL};
    ASSERT_TRUE(SnmpMgrStrToOid((LPSTR) "system.5.0", &oid));
    smiOID view = {oid.idLength, (smiLPUINT32)oid.ids};
    EXPECT_EQ(SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&view), SNMPAPI_SUCCESS);
}

TEST_F(WinSnmpOid, MgrStrToOidRejectsJunk)
{
    const std::string cases[] = {
        "", ".", "..1.3", ".1", ".5.3", ".1.3.", "System.1", "sys.1", "system.", "system..1",
        "system.x", "system1", "mib-2.1", "hello world", "1.3 ", " 1.3", "1.-3", "-1",
        // A name where the tree does not have it.
        ".system", "iso.3", ".iso.org.dod.internet.mgmt.sysDescr", "system.sysName.sysDescr",
        ".1.3.6.1.2.enterprises", "enterprises.1", ".iso.org.private", "sysDescr.0",
        ".iso.org.dod.internet.mgmt.mib-2.system.sysDescr.0.sysName",
        // Not a name at all, or not of this spelling.
        ".iso.org.dod.internet.Mgmt", "system.sysdescr.0", ".iso..org", ".iso.org.", "system.sys_Descr",
        ".iso.01", ".iso", ".iso.org.dod.internet.mgmt.mib-2.system.4294967296",
        Repeat("1", ".2", 122),                            // 129 sub-identifiers
    };
    for (const std::string &text : cases) {
        SCOPED_TRACE("\"" + text + "\"");
        AsnObjectIdentifier oid = {0x5A5A, NULL};
        EXPECT_FALSE(SnmpMgrStrToOid((LPSTR)text.c_str(), &oid));
        EXPECT_EQ(oid.idLength, 0x5A5Au);
        EXPECT_EQ(oid.ids, nullptr);
    }
    AsnObjectIdentifier oid = {0, NULL};
    EXPECT_FALSE(SnmpMgrStrToOid(NULL, &oid));
}

TEST_F(WinSnmpOid, OidToStrWritesDottedTextWithinTheSize)
{
    smiUINT32 ids[] = {1, 3, 6, 1};
    smiOID oid = {4, ids};
    char text[16];

    EXPECT_EQ(SnmpOidToStr(&oid, 8, text), 8u) << "the length with the terminator";
    EXPECT_STREQ(text, "1.3.6.1");

    memset(text, 'x', sizeof(text));
    EXPECT_EQ(SnmpOidToStr(&oid, 7, text), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_OUTPUT_TRUNCATED);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[7], 'x') << "nothing written beyond the size";

    EXPECT_EQ(SnmpOidToStr(&oid, 0, text), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_SIZE_INVALID);

    smiOID empty = {0, ids};
    EXPECT_EQ(SnmpOidToStr(&empty, sizeof(text), text), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_OID_INVALID);
    smiOID tooLong = {MAXOBJIDSIZE + 1, ids};
    EXPECT_EQ(SnmpOidToStr(&tooLong, sizeof(text), text), SNMPAPI_FAILURE);

    // The longest text: 128 sub-identifiers of ten digits fill
    // MAXOBJIDSTRSIZE exactly; and it reads back through SnmpStrToOid.
    std::vector<smiUINT32> big(MAXOBJIDSIZE, 4294967295u);
    big[0] = 2;
    big[1] = 4294967295u - 80;     // the largest second arc BER can carry after 2
    smiOID bigOid = {MAXOBJIDSIZE, big.data()};
    std::vector<char> bigText(MAXOBJIDSTRSIZE);
    SNMPAPI_STATUS length = SnmpOidToStr(&bigOid, MAXOBJIDSTRSIZE, bigText.data());
    EXPECT_EQ(length, strlen(bigText.data()) + 1);
    EXPECT_EQ(SnmpOidToStr(&bigOid, length - 1, bigText.data()), SNMPAPI_FAILURE);
    ASSERT_EQ(SnmpOidToStr(&bigOid, length, bigText.data()), length);
    smiOID back = {0, NULL};
    EXPECT_EQ(SnmpStrToOid(bigText.data(), &back), (SNMPAPI_STATUS)MAXOBJIDSIZE);
    EXPECT_EQ(OidText(back), OidText(big));
    SnmpFreeDescriptor(SNMP_SYNTAX_OID, (smiLPOPAQUE)&back);
}

TEST_F(WinSnmpOid, OidCompareOrdersAndHonoursMaxlen)
{
    struct Case {
        const char *x;
        const char *y;
        smiUINT32 maxlen;
        int expected;
    } cases[] = {
        {"1.3.6", "1.3.6", 0, 0},
        {"1.3.6", "1.3.7", 0, -1},
        {"1.3.7", "1.3.6.1", 0, 1},
        {"1.3.6", "1.3.6.1", 0, -1},
        {"1.3.6.1", "1.3.6", 0, 1},
        {"1.3.6", "1.3.6.1.2", 3, 0},      // the walk's sub-tree test: root is a prefix
        {"1.3.6.1", "1.3.6", 3, 0},
        {"1.3.6", "1.3.5.9", 3, 1},        // left the sub-tree
        {"1.3.6", "1.3", 3, 1},            // shorter than the root: not inside
        {"1.3", "1.4", 1, 0},
        {"1.4294967295", "1.0", 0, 1},     // unsigned
        {"1.3.6.1", "1.3.6.1", MAXOBJIDSIZE, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.x) + " vs " + c.y + " maxlen " + std::to_string(c.maxlen));
        std::vector<smiUINT32> x = Oid(c.x), y = Oid(c.y);
        smiOID xo = {(smiUINT32)x.size(), x.data()}, yo = {(smiUINT32)y.size(), y.data()};
        smiINT result = 99;
        ASSERT_EQ(SnmpOidCompare(&xo, &yo, c.maxlen, &result), SNMPAPI_SUCCESS);
        EXPECT_EQ(result, c.expected);
    }
    std::vector<smiUINT32> x = Oid("1.3");
    smiOID xo = {2, x.data()};
    smiINT result = 99;
    EXPECT_EQ(SnmpOidCompare(&xo, &xo, MAXOBJIDSIZE + 1, &result), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_SIZE_INVALID);
    EXPECT_EQ(result, 99);
    EXPECT_EQ(SnmpOidCompare(NULL, &xo, 0, &result), SNMPAPI_FAILURE);
    EXPECT_EQ(SnmpGetLastError(NULL), (SNMPAPI_STATUS)SNMPAPI_OID_INVALID);
}

}  // namespace
