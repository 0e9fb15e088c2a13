// The SNMP engine's message boxes: ShowWarning's text, cut and owner, the
// catalogue's texts as shown, and the localized connection error box.
#include "shell/shell.h"
#include "snmp/error_report.h"
#include "tests/bench/bench.h"
#include "tests/bench/languages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

INT_PTR CALLBACK TemplateOnlyProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// The configuration dialog as the owner of the engine's boxes, as it is
// while the engine runs; undone after each test.
class EngineBoxes : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDialog_ = g_hDialog;
        savedInstance_ = g_hInstance;
        g_hInstance = GetModuleHandleA(NULL);
        dialog_ = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                     TemplateOnlyProc, 0);
        ASSERT_TRUE(dialog_ != NULL);
        ShowWindow(dialog_, SW_SHOW);
        g_hDialog = dialog_;
    }
    void TearDown() override
    {
        g_hDialog = savedDialog_;
        g_hInstance = savedInstance_;
        if (dialog_ != NULL)
            DestroyWindow(dialog_);
    }
    HWND dialog_ = NULL;

private:
    HWND savedDialog_ = NULL;
    HINSTANCE savedInstance_ = NULL;
};

}  // namespace

TEST_F(EngineBoxes, WarningIsOwnedByTheDialogWithCaptionWarningAndOnlyOk)
{
    BoxRecorder recorder;
    bool dialogEnabledWhileOpen = true;
    recorder.WhileOpen([&](const RecordedBox &) { dialogEnabledWhileOpen = IsWindowEnabled(dialog_); });
    ShowWarning("%s %d of %u", "value", -7, 16u);
    ASSERT_EQ(1u, recorder.Count());
    const RecordedBox &box = recorder.Boxes()[0];
    EXPECT_EQ("Warning", box.caption) << Describe(box);
    EXPECT_EQ("value -7 of 16", box.text);
    EXPECT_EQ(dialog_, box.owner);
    EXPECT_FALSE(dialogEnabledWhileOpen) << "an owned box disables the dialog";
    EXPECT_TRUE(IsWindowEnabled(dialog_)) << "and gives it back when closed";
    EXPECT_EQ("none", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
}

TEST_F(EngineBoxes, WarningTextIsCutAfter1023Chars)
{
    struct { size_t length; size_t shown; } cases[] = {
        {1022, 1022}, {1023, 1023}, {1024, 1023}, {5000, 1023},
    };
    for (auto &c : cases) {
        SCOPED_TRACE("formatted length " + std::to_string(c.length));
        std::string text;
        for (size_t i = 0; i < c.length; i++)
            text.push_back((char)('a' + i % 26));
        BoxRecorder recorder;
        ShowWarning("%s", text.c_str());
        ASSERT_EQ(1u, recorder.Count());
        EXPECT_EQ(c.shown, recorder.Boxes()[0].text.size());
        EXPECT_EQ(text.substr(0, c.shown), recorder.Boxes()[0].text);
    }
    // The cut applies to the formatted result, not to the format.
    BoxRecorder recorder;
    ShowWarning("%01030d|", 5);
    ASSERT_EQ(1u, recorder.Count());
    EXPECT_EQ(std::string(1023, '0'), recorder.Boxes()[0].text);
}

TEST_F(EngineBoxes, CatalogueTextsAreShownExactly)
{
    struct { std::function<void()> show; const char *expected; } cases[] = {
        {[] { ShowWarning(WARN_PLATFORM_TOO_OLD); },
         "WinSnmp is supported on Windows NT 5.0 or later ..."},
        {[] { ShowWarning(WARN_AGENT_COPY_FAILED); }, "wsnmputil: Memory allocation failed ..."},
        {[] { ShowWarning(WARN_INVALID_AGENT); }, "Invalid SNMP agent ..."},
        {[] { ShowWarning(WARN_MEMORY_ALLOCATION_FAILED); }, "Memory allocation failed ..."},
        {[] { ShowWarning(WARN_REGISTER_CLASS_FAILED, 1407); }, "RegisterClass returned 1407."},
        {[] { ShowWarning(WARN_NOTIFY_WINDOW_FAILED); }, "Fail to create notification window ..."},
        {[] { ShowWarning(WARN_OPEN_SESSION_FAILED); }, "Open session failed ..."},
        {[] { ShowWarning(WARN_OID_CONVERSION_FAILED); },
         "Failed in SnmpStrToOid( ) or SnmpMgrStrToOid( ) function ..."},
        {[] { ShowWarning(WARN_CREATE_PDU_FAILED); }, "Failed in creating PDU ..."},
        {[] { ShowWarning(WARN_SEND_FAILED, 11); }, "Failed in send message, Last Error 11 "},
        {[] { ShowWarning(WARN_GET_PDU_DATA_FAILED, -1); }, "SnmpGetPduData returned error -1 "},
        {[] { ShowWarning(WARN_INVALID_PDU_TYPE, 164); }, "Invalid PDU type 164 "},
        {[] { ShowWarning(WARN_FREE_PDU_FAILED, 5); }, "Failure in SnmpFreePdu 5 "},
        {[] { ShowWarning(WARN_WALK_NOT_ADVANCING); },
         "Walk incomplete: the agent answered with a name that does not follow the one asked "
         "for ..."},
        {[] { ShowWarning(WARN_WALK_TOO_LONG, 4096); },
         "Walk incomplete: no end of the sub-tree after 4096 requests ..."},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.expected);
        BoxRecorder recorder;
        c.show();
        ASSERT_EQ(1u, recorder.Count());
        EXPECT_EQ(c.expected, recorder.Boxes()[0].text);
        EXPECT_EQ("Warning", recorder.Boxes()[0].caption);
    }
}

// Run once per locale by CTest (LANG and a LOCPATH that holds the locale).
TEST_F(EngineBoxes, ByLocaleConnectionErrorIsLocalizedWithoutOwner)
{
    std::string lang;
    const LocaleCase *locale = LocaleOfEnvironment(&lang);
    if (locale == NULL)
        GTEST_SKIP() << "LANG=\"" << lang << "\" is not one of the locales of this test";
    if (GetUserDefaultUILanguage() != locale->uiLanguage)
        GTEST_SKIP() << "Wine did not take LANG=" << lang
                     << ": the C library cannot load that locale (see make-locales.sh)";
    const LanguageTexts *language = FindLanguage(locale->table);
    ASSERT_TRUE(language != NULL);

    BoxRecorder recorder;
    bool dialogEnabledWhileOpen = false;
    recorder.WhileOpen([&](const RecordedBox &) { dialogEnabledWhileOpen = IsWindowEnabled(dialog_); });
    ShowConnectionError();
    ASSERT_EQ(1u, recorder.Count());
    const RecordedBox &box = recorder.Boxes()[0];
    std::string caption = Cp1252(language->texts[8]);   // string 130
    std::string text = Cp1252(language->texts[9]);      // string 140
    EXPECT_EQ(caption, box.caption) << HexOf(box.caption);
    EXPECT_EQ(text, box.text) << "got      " << HexOf(box.text) << "\nexpected " << HexOf(text);
    EXPECT_TRUE(box.owner == NULL) << Describe(box);
    EXPECT_TRUE(dialogEnabledWhileOpen) << "the dialog stays usable behind the box";
    EXPECT_EQ("error", box.icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
}
