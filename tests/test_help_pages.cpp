// The help files built beside the program: each opens in the HTML Help
// viewer under its own title, and its page explains the dialog in the
// dialog's own words. Run on a real display: Wine's viewer opens no window
// under the null graphics driver.
#include "tests/bench/bench.h"

#include <gtest/gtest.h>
#include <htmlhelp.h>
#include <objbase.h>

#include <string>
#include <vector>

// Wine's itss reads the files inside a .chm; MinGW has no header for it.
// Declared outside the unnamed namespace: there, with no class that
// implements it in this file, GCC would take every call as unreachable.
const GUID CLSID_ITStorage = {0x5d02926a, 0x212e, 0x11d0,
                              {0x9d, 0xf9, 0x00, 0xa0, 0xc9, 0x22, 0xe6, 0xec}};
const GUID IID_IITStorage = {0x88cc31de, 0x27ab, 0x11d0,
                             {0x9d, 0xf9, 0x00, 0xa0, 0xc9, 0x22, 0xe6, 0xec}};
struct IITStorage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfile(const WCHAR *, DWORD, DWORD, IStorage **) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfileOnILockBytes(ILockBytes *, DWORD, DWORD,
                                                                   IStorage **) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageFile(const WCHAR *) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageILockBytes(ILockBytes *) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgOpenStorage(const WCHAR *, IStorage *, DWORD, SNB, DWORD,
                                                     IStorage **) = 0;
};

namespace {

const char TOPIC[] = "::/Properties-ExtendedConfiguration.htm";

std::string HelpPath(const char *file)
{
    return WindowsPath(HELP_DIR) + "\\" + file;
}

std::string WindowText(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

// The page as stored in the compiled file; empty when it is not there.
std::string ReadPage(const char *file)
{
    std::string page;
    CoInitialize(NULL);
    IITStorage *its = NULL;
    IStorage *storage = NULL;
    IStream *stream = NULL;
    std::string path = HelpPath(file);
    std::wstring widePath(path.begin(), path.end());
    if (SUCCEEDED(CoCreateInstance(CLSID_ITStorage, NULL, CLSCTX_INPROC_SERVER, IID_IITStorage,
                                   (void **)&its)) &&
        SUCCEEDED(its->StgOpenStorage(widePath.c_str(), NULL, STGM_READ | STGM_SHARE_DENY_WRITE,
                                      NULL, 0, &storage)) &&
        SUCCEEDED(storage->OpenStream(L"Properties-ExtendedConfiguration.htm", NULL, STGM_READ, 0,
                                      &stream))) {
        char chunk[4096];
        ULONG got = 0;
        while (SUCCEEDED(stream->Read(chunk, sizeof(chunk), &got)) && got > 0)
            page.append(chunk, got);
    }
    if (stream)
        stream->Release();
    if (storage)
        storage->Release();
    if (its)
        its->Release();
    CoUninitialize();
    return page;
}

struct HelpFile {
    const char *file;
    const char *title;                 // the project's Title=
    std::vector<const char *> words;   // the dialog's texts in that language
};

const HelpFile FILES[] = {
    {"VRPHlp.chm", "VR Universal Driver Help - Auto Configuration",
     {"IP-Address / Host Name", "SNMP Community Name", "SNMP time-out", "<b>OK</b>",
      "<b>Cancel</b>", "<b>Help</b>", "hard disk", "finisher", "punching unit",
      "second paper cassette", "switched on", "qomtan"}},
    {"VRPHDe.chm", "VR UniversalDriver Hilfe - Autokonfiguration",
     {"IP-Adresse / Host Name", "SNMP Community Name", "SNMP Time-out", "<b>OK</b>",
      "<b>Abbrechen</b>", "<b>Hilfe</b>", "Festplatte", "Finisher", "Lochereinheit",
      "zweite Papierkassette", "eingeschaltet", "qomtan"}},
};

const char *const VALUE_NAMES[] = {"QV_AutoCfgDisk",    "QV_AutoCfgFinisher",
                                   "QV_AutoCfgPunchUnit", "QV_AutoCfgCassettes",
                                   "QV_AutoCfgSuccess", "QV_AutoComName",
                                   "QV_AutoTimeOut"};

class HelpViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY") || !*getenv("DISPLAY"))
            GTEST_SKIP() << "no DISPLAY: Wine's help viewer needs a real display";
    }
    void TearDown() override { HtmlHelpA(NULL, NULL, HH_CLOSE_ALL, 0); }
};

TEST_F(HelpViewer, EachFileOpensAtThePageUnderItsOwnTitle)
{
    for (const HelpFile &f : FILES) {
        SCOPED_TRACE(f.file);
        std::string path = HelpPath(f.file) + TOPIC;
        HWND viewer = HtmlHelpA(GetDesktopWindow(), path.c_str(), HH_DISPLAY_TOPIC, 0);
        ASSERT_TRUE(viewer != NULL) << path;
        EXPECT_EQ("HH Parent", ClassName(viewer));
        EXPECT_EQ(f.title, WindowText(viewer));
        HtmlHelpA(NULL, NULL, HH_CLOSE_ALL, 0);
    }
}

TEST_F(HelpViewer, AMissingFileOpensNothing)
{
    std::string path = HelpPath("VRPHXx.chm") + TOPIC;
    EXPECT_TRUE(HtmlHelpA(GetDesktopWindow(), path.c_str(), HH_DISPLAY_TOPIC, 0) == NULL);
}

TEST(HelpPage, ExplainsTheDialogAndTheSevenValuesInEachLanguage)
{
    for (const HelpFile &f : FILES) {
        SCOPED_TRACE(f.file);
        std::string page = ReadPage(f.file);
        ASSERT_FALSE(page.empty()) << "no page " << TOPIC << " in " << f.file;
        for (const char *word : f.words)
            EXPECT_NE(std::string::npos, page.find(word)) << "missing: " << word;
        for (const char *name : VALUE_NAMES)
            EXPECT_NE(std::string::npos, page.find(name)) << "missing: " << name;
    }
}

}  // namespace
