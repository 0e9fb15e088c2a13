// The texts of --event-log's events, read from the built VRAutoDetect.exe's
// message table as Event Viewer reads them (FormatMessageW from the
// module): every ID the program reports has one, at its published number,
// and each text carries the inserts its event is given.
#include "console/console.h"
#include "tests/bench/bench.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// The IDs as the guide lists them, and the inserts each text shows
// (run: what was asked, the three counts, why; printer: the printer, its
// outcome, the reason, what changed, what the run asked).
struct EventRow {
    DWORD id;
    std::vector<int> shown;
};
const EventRow EVENT_ROWS[] = {
    {1000, {1, 2, 3, 4, 5}},
    {1001, {1, 2, 3, 4, 5}},
    {1003, {1, 2, 3, 4, 5}},
    {2001, {1, 2, 3, 4, 5}},
    {2002, {1, 2, 3, 4, 5}},
    {2003, {1, 2, 3, 4, 5}},
    {2010, {1, 2, 4, 5}},
};

std::wstring Insert(int number)
{
    return L"<insert " + std::to_wstring(number) + L">";
}

}  // namespace

TEST(EventMessages, EveryReportedIdHasItsTextWithItsInserts)
{
    std::set<DWORD> reported(g_eventMessageIds, g_eventMessageIds + g_eventMessageIdCount);
    std::set<DWORD> published;
    for (const EventRow &row : EVENT_ROWS)
        published.insert(row.id);
    // Monitoring rules name these numbers: they never move.
    EXPECT_EQ(reported, published);

    std::string path = WindowsPath(PROGRAM_PATH);
    HMODULE program = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << path;
    std::wstring inserts[5];
    const WCHAR *arguments[5];
    for (int i = 0; i < 5; i++) {
        inserts[i] = Insert(i + 1);
        arguments[i] = inserts[i].c_str();
    }
    for (const EventRow &row : EVENT_ROWS) {
        SCOPED_TRACE("event " + std::to_string(row.id));
        WCHAR text[2048] = L"";
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      program, row.id, 0x409, text, 2048, (va_list *)arguments);
        ASSERT_GT(length, 0u) << "no text (error " << GetLastError() << ")";
        std::wstring shown(text, length);
        for (int number = 1; number <= 5; number++) {
            bool wanted = false;
            for (int n : row.shown)
                wanted = wanted || n == number;
            EXPECT_EQ(shown.find(Insert(number)) != std::wstring::npos, wanted)
                << "insert " << number;
        }
    }
    FreeLibrary(program);
}
