// What the program hands to the spooler, recorded on its way through
// g_spoolerCalls, and the check that the spooler kept exactly that.
#include "tests/bench/bench.h"
#include "printer/spooler.h"

#include <gtest/gtest.h>

namespace {

SpoolerWriteRecorder *g_writeRecorder;
DWORD (WINAPI *g_nextSetPrinterData)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD);

DWORD WINAPI RecordingSetPrinterData(HANDLE printer, LPSTR name, DWORD type, LPBYTE data,
                                     DWORD size)
{
    if (g_writeRecorder != NULL)
        g_writeRecorder->Add({name, type, std::vector<BYTE>(data, data + size)});
    return g_nextSetPrinterData(printer, name, type, data, size);
}

// The spooler keeps text types as UTF-16: each (ASCII) byte handed over
// becomes two in the registry.
std::vector<BYTE> Widened(const std::vector<BYTE> &bytes)
{
    std::vector<BYTE> wide;
    for (BYTE b : bytes) {
        wide.push_back(b);
        wide.push_back(0);
    }
    return wide;
}

}  // namespace

SpoolerWriteRecorder::SpoolerWriteRecorder()
{
    g_writeRecorder = this;
    g_nextSetPrinterData = g_spoolerCalls.setPrinterData;
    g_spoolerCalls.setPrinterData = RecordingSetPrinterData;
}

SpoolerWriteRecorder::~SpoolerWriteRecorder()
{
    g_spoolerCalls.setPrinterData = g_nextSetPrinterData;
    g_writeRecorder = NULL;
}

std::vector<std::string> SpoolerWriteRecorder::Names() const
{
    std::vector<std::string> names;
    for (const SpoolerWrite &w : writes_)
        names.push_back(w.name);
    return names;
}

void ExpectStored(const SpoolerWriteRecorder &recorder, const char *printer, const char *name,
                  DWORD type, const std::vector<BYTE> &bytes)
{
    const SpoolerWrite *last = NULL;
    for (const SpoolerWrite &w : recorder.Writes())
        if (w.name == name)
            last = &w;
    ASSERT_NE(nullptr, last) << name << " was not handed to the spooler";
    EXPECT_EQ(type, last->type) << name;
    EXPECT_EQ(HexBytes(bytes), HexBytes(last->bytes)) << name;

    StoredValue v = ReadValueFromRegistry(printer, name);
    ASSERT_TRUE(v.present) << name << " is not in the registry";
    EXPECT_EQ(type, v.type) << name;
    bool text = type == REG_SZ || type == REG_MULTI_SZ;
    std::vector<BYTE> raw = v.bytes;
    if (type == REG_SZ && raw.size() == 2 * bytes.size() + 2 && raw[raw.size() - 1] == 0 &&
        raw[raw.size() - 2] == 0)
        raw.resize(raw.size() - 2);  // the spooler terminates a stored text itself
    EXPECT_EQ(HexBytes(text ? Widened(bytes) : bytes), HexBytes(raw)) << name;

    StoredValue spooled = ReadValueThroughSpooler(printer, name);
    ASSERT_TRUE(spooled.present) << name;
    EXPECT_EQ(type, spooled.type) << name;
    std::vector<BYTE> back = spooled.bytes;
    if (type == REG_SZ && back.size() == bytes.size() + 1 && back.back() == 0)
        back.pop_back();  // the spooler hands a text back with its NUL
    EXPECT_EQ(HexBytes(bytes), HexBytes(back)) << name;
}
