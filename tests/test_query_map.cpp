// The query-map file: loading "VRUnPQ.xml" beside the program, the lookup of
// an option's OID and its five "Error" boxes.
#include "features/query_map.h"
#include "shell/shell.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

const char MAP_FILE[] = "VRUnPQ.xml";

class QueryMap : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        ReleaseQueryMap();
    }
    void TearDown() override
    {
        ReleaseQueryMap();
        DeleteProgramFile(MAP_FILE);
    }
    // Loads a map of this text and looks up one option; returns the lookup's
    // result, with the OID text and the boxes shown.
    int Lookup(const std::string &map, const char *option)
    {
        EXPECT_TRUE(WriteProgramFile(MAP_FILE, map));
        EXPECT_EQ(1, LoadQueryMap());
        memset(oid, 0, sizeof(oid));
        memset(oid + sizeof(oid), 'G', sizeof(guard));
        return LookupOptionOid(option, oid);
    }
    void ExpectOneError(const char *text)
    {
        ASSERT_EQ(1u, boxes.Count()) << "expected the box \"" << text << "\"";
        const RecordedBox &b = boxes.Boxes()[0];
        EXPECT_EQ("Error", b.caption) << Describe(b);
        EXPECT_EQ(text, b.text) << Describe(b);
        EXPECT_EQ(NULL, b.owner) << Describe(b);
        EXPECT_EQ("none", b.icon) << Describe(b);
        EXPECT_EQ(std::vector<int>{IDOK}, b.buttons) << Describe(b);
    }
    bool GuardIntact() const
    {
        for (char c : guard)
            if (c != 'G')
                return false;
        return true;
    }

    BoxRecorder boxes;
    char oid[64];
    char guard[16];
};

const char FULL_MAP[] =
    "<?xml version='1.0'?>\r\n"
    "<Options>\r\n"
    "  <Property name='HardDiskX'>\r\n    <Value oid='9.9.9'/>\r\n  </Property>\r\n"
    "  <Property name='HardDisk'>\r\n    <Value oid='1.3.6.1.4.1.55555.1.1'/>\r\n  </Property>\r\n"
    "  <Property name='HardDisk'>\r\n    <Value oid='8.8.8'/>\r\n  </Property>\r\n"
    "  <Property name='3000Finisher'><Value oid=\r\n      '1.3.6.1.4.1.55555.1.2'/></Property>\r\n"
    "  <Property name='PunchingUnit'><Value oid=''/></Property>\r\n"
    "</Options>\r\n";

}  // namespace

TEST_F(QueryMap, FindsTheFirstEntryOfAnOptionAndNotAPrefixedName)
{
    EXPECT_EQ(1, Lookup(FULL_MAP, "HardDisk"));
    EXPECT_STREQ("1.3.6.1.4.1.55555.1.1", oid);
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(QueryMap, AcceptsLineBreakAndSpacesBeforeTheQuoteAndAnEmptyValue)
{
    EXPECT_EQ(1, Lookup(FULL_MAP, "3000Finisher"));
    EXPECT_STREQ("1.3.6.1.4.1.55555.1.2", oid);
    ReleaseQueryMap();
    EXPECT_EQ(1, Lookup(FULL_MAP, "PunchingUnit"));
    EXPECT_STREQ("", oid);
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(QueryMap, EntryMissingOrInAnotherFormShowsEntryStartError)
{
    const char *maps[] = {
        FULL_MAP,                                                           // no CassetteTwo
        "<Property name=\"CassetteTwo\"><V oid='1.2'/></Property>",         // double quotes
        "<Property  name='CassetteTwo'><V oid='1.2'/></Property>",          // two spaces
        "<Property name='CassetteTwo' x='1'><V oid='1.2'/></Property>",     // more attributes
        "<property name='CassetteTwo'><V oid='1.2'/></property>",           // case
        "",                                                                 // empty file
    };
    for (const char *map : maps) {
        SCOPED_TRACE(map);
        boxes.Clear();
        EXPECT_EQ(0, Lookup(map, "CassetteTwo"));
        ExpectOneError("pEntryStart - Nullpointer");
        EXPECT_STREQ("", oid);
        ReleaseQueryMap();
    }
}

TEST_F(QueryMap, EntryWithoutEndMarkerShowsEntryEndError)
{
    EXPECT_EQ(0, Lookup("<Property name='CassetteTwo'><V oid='1.2.3'/>", "CassetteTwo"));
    ExpectOneError("pEntryEnd - Nullpointer");
    EXPECT_STREQ("", oid);
}

TEST_F(QueryMap, MissingOidShowsOidError)
{
    const char *maps[] = {
        "<Property name='CassetteTwo'><V id='1.2.3'/></Property>",
        "<Property name='CassetteTwo'><V oid = '1.2.3'/></Property>",
        "<Property name='CassetteTwo'><V OID='1.2.3'/></Property>",
    };
    for (const char *map : maps) {
        SCOPED_TRACE(map);
        boxes.Clear();
        EXPECT_EQ(0, Lookup(map, "CassetteTwo"));
        ExpectOneError("pOID - Nullpointer");
        EXPECT_STREQ("", oid);
        ReleaseQueryMap();
    }
}

TEST_F(QueryMap, OidOfALaterEntryShowsWrongOid)
{
    EXPECT_EQ(0, Lookup("<Property name='CassetteTwo'><V/></Property>\n"
                        "<Property name='RAMDisk'><V oid='1.2.3'/></Property>",
                        "CassetteTwo"));
    ExpectOneError("wrong pOID");
    EXPECT_STREQ("", oid);
}

TEST_F(QueryMap, ValueOf63CharactersFitsAnd64DoNot)
{
    std::string v63(63, '1');
    std::string v64(64, '2');
    EXPECT_EQ(1, Lookup("<Property name='HardDisk'><V oid='" + v63 + "'/></Property>",
                        "HardDisk"));
    EXPECT_EQ(v63, std::string(oid));
    EXPECT_EQ(0u, boxes.Count());
    ReleaseQueryMap();

    const std::string tooLong[] = {v64, v64 + "333"};
    for (const std::string &v : tooLong) {
        SCOPED_TRACE(v.size());
        boxes.Clear();
        EXPECT_EQ(0, Lookup("<Property name='HardDisk'><V oid='" + v + "'/></Property>",
                            "HardDisk"));
        ExpectOneError("wrong szOID");
        // Nothing half-copied: the text stays terminated inside its 64 bytes.
        EXPECT_LT(strnlen(oid, sizeof(oid)), sizeof(oid));
        EXPECT_STREQ("", oid);
        EXPECT_TRUE(GuardIntact());
        ReleaseQueryMap();
    }
}

TEST_F(QueryMap, ValueNotOpenedOrNotClosedShowsWrongValueWithoutReadingPastTheText)
{
    const char *maps[] = {
        "<Property name='HardDisk'><V oid=\"1.2.3\"/></Property>",   // double quotes
        "<Property name='HardDisk'><V oid=\t'1.2.3'/></Property>",   // a tab
        "<Property name='HardDisk'><V oid='1.2.3</Property>",        // never closed
    };
    for (const char *map : maps) {
        SCOPED_TRACE(map);
        boxes.Clear();
        EXPECT_EQ(0, Lookup(map, "HardDisk"));
        ExpectOneError("wrong szOID");
        EXPECT_STREQ("", oid);
        ReleaseQueryMap();
    }
    // The map text ends inside the value: the reader stops at the end.
    memset(oid, 0, sizeof(oid));
    EXPECT_EQ(0, ExtractQuotedValue(oid, "  \r\n'1.3.6"));
    EXPECT_EQ(0, ExtractQuotedValue(oid, "  \r\n"));
    EXPECT_EQ(1, ExtractQuotedValue(oid, " \r\n '1.3.6.1'rest"));
    EXPECT_STREQ("1.3.6.1", oid);
}

TEST_F(QueryMap, LoadsWholeFileWithTwoNulsAndIsReadAfreshEachTime)
{
    ASSERT_TRUE(WriteProgramFile(MAP_FILE, std::string("abc\0def", 7)));
    ASSERT_EQ(1, LoadQueryMap());
    ASSERT_NE(nullptr, g_queryMap);
    EXPECT_EQ(0, memcmp(g_queryMap, "abc\0def\0\0", 9));
    ReleaseQueryMap();
    EXPECT_EQ(nullptr, g_queryMap);

    ASSERT_TRUE(WriteProgramFile(MAP_FILE, ""));
    ASSERT_EQ(1, LoadQueryMap());
    EXPECT_EQ(0, memcmp(g_queryMap, "\0\0", 2));
}

TEST_F(QueryMap, MissingFileFailsWithoutMessage)
{
    DeleteProgramFile(MAP_FILE);
    EXPECT_EQ(0, LoadQueryMap());
    EXPECT_EQ(nullptr, g_queryMap);
    EXPECT_EQ(0u, boxes.Count());
}

TEST_F(QueryMap, FileOf4GiBOrMoreFailsInsteadOfBeingReadShort)
{
    // A sparse file of 4 GiB and 10 bytes: its low 32 bits of size say 10.
    std::string path = ProgramDirectory() + MAP_FILE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 10;
    BOOL sized = SetFilePointerEx(file, size, NULL, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!sized)
        GTEST_SKIP() << "cannot make a 4 GiB file here";
    EXPECT_EQ(0, LoadQueryMap());
    EXPECT_EQ(nullptr, g_queryMap);
    EXPECT_EQ(0u, boxes.Count());
}
