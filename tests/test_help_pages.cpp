// The help files built beside the program, one per language under the
// name of its string 150: each opens in the HTML Help viewer under its own
// title, and its page explains the dialog in the dialog's own words. Run on
// a real display: Wine's viewer opens no window under the null graphics
// driver.
#include "tests/bench/bench.h"
#include "tests/bench/languages.h"

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

std::wstring WindowText(HWND window)
{
    WCHAR text[256] = L"";
    GetWindowTextW(window, text, 256);
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

// One row per language, in the order of the bench's language tables
// (kLanguages), whose string 150 names the file.
struct HelpFile {
    const char *title;                 // the project's Title=
    const char *options[4];            // what is detected, in that language
};

const HelpFile FILES[9] = {
    {u8"VR Universal Driver Help - Auto Configuration",
     {"hard disk", "finisher", "punching unit", "second paper cassette"}},
    {u8"VR UniversalDriver Hilfe - Autokonfiguration",
     {"Festplatte", "Finisher", "Lochereinheit", "zweite Papierkassette"}},
    {u8"Aide du pilote VR Universel - Configuration automatique",
     {"disque dur", "module de finition", u8"unité de perforation", u8"deuxième cassette"}},
    {u8"Guida del driver VR Universal - Configurazione automatica",
     {"disco rigido", "finisher", u8"unità di foratura", "secondo cassetto"}},
    {u8"Ayuda del Driver Universal VR - Configuración automática",
     {"disco duro", "finalizador", u8"unidad de perforación", "segunda bandeja"}},
    {u8"Help bij VR Universal Driver - Automatische configuratie",
     {"harde schijf", "finisher", "perforatie-eenheid", "tweede papiercassette"}},
    {u8"Hjälp för VR Universal Drivrutin - Automatisk konfiguration",
     {u8"hårddisk", "efterbehandlingsenheten", u8"hålslagsenheten", "andra papperskassetten"}},
    {u8"Ajuda del Driver Universal VR - Configuració automàtica",
     {"disc dur", "finalitzador", u8"unitat de perforació", "segona safata"}},
    {u8"Ajuda do Driver Universal VR - Configuração automática",
     {u8"disco rígido", "finalizador", u8"unidade de perfuração", "segunda gaveta"}},
};

// The dialog's words the page names: the three labels (without their
// colon) and the three buttons, from string 110, 111, 112, 120, 121, 122.
std::vector<std::string> DialogWords(const LanguageTexts &language)
{
    std::vector<std::string> words;
    for (int i : {1, 2, 3}) {
        std::string label = Cp1252(language.texts[i]);
        words.push_back(label.substr(0, label.find_last_not_of(": ") + 1));
    }
    for (int i : {5, 6, 7})
        words.push_back("<b>" + Cp1252(language.texts[i]) + "</b>");
    return words;
}

// Named on every page: the seven values, the default community and the
// console program to run when the printer does not answer, as PowerShell
// takes it, and its time-out option.
const char *const COMMON_WORDS[] = {"QV_AutoCfgDisk",    "QV_AutoCfgFinisher",
                                    "QV_AutoCfgPunchUnit", "QV_AutoCfgCassettes",
                                    "QV_AutoCfgSuccess", "QV_AutoComName",
                                    "QV_AutoTimeOut",    "qomtan",
                                    ".\\VRAutoDetect.exe --printer",
                                    "<code>--timeout</code>"};

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
    for (int i = 0; i < 9; i++) {
        const char *file = kLanguages[i].texts[10];
        SCOPED_TRACE(file);
        std::string path = HelpPath(file) + TOPIC;
        HWND viewer = HtmlHelpA(GetDesktopWindow(), path.c_str(), HH_DISPLAY_TOPIC, 0);
        ASSERT_TRUE(viewer != NULL) << path;
        EXPECT_EQ("HH Parent", ClassName(viewer));
        EXPECT_TRUE(Utf16(FILES[i].title) == WindowText(viewer)) << FILES[i].title;
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
    for (int i = 0; i < 9; i++) {
        const char *file = kLanguages[i].texts[10];
        SCOPED_TRACE(file);
        std::string page = ReadPage(file);
        ASSERT_FALSE(page.empty()) << "no page " << TOPIC << " in " << file;
        std::vector<std::string> words = DialogWords(kLanguages[i]);
        for (const char *option : FILES[i].options)
            words.push_back(Cp1252(option));
        // The line on the box for values the printer did not take quotes its
        // first line (string 141) without the full stop.
        std::string notStored = Cp1252(kLanguages[i].texts[11]);
        words.push_back(notStored.substr(0, notStored.find(".\n")));
        words.insert(words.end(), std::begin(COMMON_WORDS), std::end(COMMON_WORDS));
        for (const std::string &word : words)
            EXPECT_NE(std::string::npos, page.find(word)) << "missing: " << word;
    }
}

}  // namespace
