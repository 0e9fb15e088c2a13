// The program's resources: the string table in nine languages and what the
// loader picks from it, dialog template 103 as stored and as the platform
// builds it, the logo, the icon, the manifest and the version, and that the
// program file carries exactly these.
//
// The test program links the same resource library as the program, so its
// own module holds the same resources; the last tests compare the two.
#include "resources/resource_ids.h"
#include "tests/bench/bench.h"
#include "tests/bench/languages.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

HMODULE Self()
{
    return GetModuleHandleA(NULL);
}

std::string Hex(unsigned value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// The bytes of one resource, or an empty vector.
std::vector<BYTE> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, LANGID language)
{
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == NULL)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE *data = (const BYTE *)LockResource(loaded);
    DWORD size = SizeofResource(module, found);
    if (data == NULL)
        return {};
    return std::vector<BYTE>(data, data + size);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    ((std::vector<LANGID> *)param)->push_back(language);
    return TRUE;
}

std::vector<LANGID> Languages(HMODULE module, LPCSTR type, LPCSTR name)
{
    std::vector<LANGID> languages;
    EnumResourceLanguagesA(module, type, name, CollectLanguage, (LONG_PTR)&languages);
    return languages;
}

// The only language a resource exists in; 0xFFFF when it has none or more.
LANGID OnlyLanguage(HMODULE module, LPCSTR type, LPCSTR name)
{
    std::vector<LANGID> languages = Languages(module, type, name);
    return languages.size() == 1 ? languages[0] : 0xFFFF;
}

// A string of a string-table block, as stored (UTF-16, counted).
std::wstring StoredString(HMODULE module, UINT id, LANGID language)
{
    std::vector<BYTE> block =
        ResourceBytes(module, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
    const WCHAR *p = (const WCHAR *)block.data();
    const WCHAR *end = (const WCHAR *)(block.data() + block.size());
    for (UINT i = 0; i < 16 && p < end; i++) {
        WORD length = *p++;
        if (i == id % 16)
            return std::wstring(p, p + length);
        p += length;
    }
    return L"<missing>";
}

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c < 0x80) {
            out.push_back((char)c);
        } else {
            char escape[16];
            snprintf(escape, sizeof(escape), "<U+%04X>", (unsigned)c);
            out += escape;
        }
    }
    return out;
}

// ---- dialog templates ---------------------------------------------------

struct TemplateText {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text;
};

struct TemplateItem {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    TemplateText cls, text;
    WORD extraCount;
};

struct DialogTemplate {
    bool valid = false;
    WORD version = 0, signature = 0;
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    TemplateText menu, cls, title;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
};

// Reads an extended dialog template (DLGTEMPLATEEX and its items); every
// read is checked against the resource's size.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<BYTE> &bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    template <class T> T Read()
    {
        T value{};
        if (pos_ + sizeof(T) > bytes_.size()) {
            ok_ = false;
            return value;
        }
        memcpy(&value, bytes_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return value;
    }
    TemplateText ReadText()
    {
        TemplateText t;
        WORD first = Read<WORD>();
        if (first == 0xFFFF) {
            t.isOrdinal = true;
            t.ordinal = Read<WORD>();
            return t;
        }
        for (WORD c = first; ok_ && c != 0; c = Read<WORD>())
            t.text.push_back((wchar_t)c);
        return t;
    }
    void AlignToDword() { pos_ = (pos_ + 3) & ~(size_t)3; }
    void Skip(size_t n) { pos_ += n; }
    bool AtEnd() const { return pos_ >= bytes_.size(); }

private:
    const std::vector<BYTE> &bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

DialogTemplate ParseDialogTemplate(const std::vector<BYTE> &bytes)
{
    DialogTemplate d;
    TemplateReader r(bytes);
    d.version = r.Read<WORD>();
    d.signature = r.Read<WORD>();
    d.helpId = r.Read<DWORD>();
    d.exStyle = r.Read<DWORD>();
    d.style = r.Read<DWORD>();
    WORD count = r.Read<WORD>();
    d.x = r.Read<short>();
    d.y = r.Read<short>();
    d.cx = r.Read<short>();
    d.cy = r.Read<short>();
    d.menu = r.ReadText();
    d.cls = r.ReadText();
    d.title = r.ReadText();
    if (d.style & (DS_SETFONT | DS_SHELLFONT)) {
        d.pointSize = r.Read<WORD>();
        d.weight = r.Read<WORD>();
        d.italic = r.Read<BYTE>();
        d.charset = r.Read<BYTE>();
        d.face = r.ReadText().text;
    }
    for (WORD i = 0; i < count && r.ok(); i++) {
        r.AlignToDword();
        TemplateItem item;
        item.helpId = r.Read<DWORD>();
        item.exStyle = r.Read<DWORD>();
        item.style = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.id = r.Read<DWORD>();
        item.cls = r.ReadText();
        item.text = r.ReadText();
        item.extraCount = r.Read<WORD>();
        r.Skip(item.extraCount);
        d.items.push_back(item);
    }
    r.AlignToDword();
    d.valid = r.ok() && d.items.size() == count && r.AtEnd();
    return d;
}

// The predefined classes by number, as an extended template stores them.
const WORD CLASS_BUTTON = 0x0080, CLASS_EDIT = 0x0081, CLASS_STATIC = 0x0082;
const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD LABEL = CHILD | SS_LEFT | WS_GROUP;
const DWORD FIELD = CHILD | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD BUTTON = CHILD | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD NO_ID = 0xFFFFFFFF;

struct ExpectedControl {
    DWORD id;
    WORD cls;
    DWORD style;
    short x, y, cx, cy;
    const char *className;      // as the created window reports it
};

const ExpectedControl kControls[12] = {
    {IDC_ADDRESS_LABEL, CLASS_STATIC, LABEL, 11, 26, 127, 8, "Static"},
    {IDC_ADDRESS, CLASS_EDIT, FIELD, 138, 22, 78, 12, "Edit"},
    {IDC_COMMUNITY_LABEL, CLASS_STATIC, LABEL, 11, 47, 127, 8, "Static"},
    {IDC_COMMUNITY, CLASS_EDIT, FIELD, 138, 43, 78, 12, "Edit"},
    {NO_ID, CLASS_STATIC, LABEL, 11, 66, 127, 8, "Static"},
    {IDC_TIMEOUT, CLASS_EDIT, FIELD | ES_NUMBER, 138, 62, 20, 12, "Edit"},
    {IDC_TIMEOUT_UNIT, CLASS_STATIC, LABEL, 165, 66, 51, 8, "Static"},
    {NO_ID, CLASS_BUTTON, CHILD | BS_GROUPBOX, 6, 5, 217, 80, "Button"},
    {IDOK, CLASS_BUTTON, BUTTON, 11, 95, 43, 13, "Button"},
    {IDCANCEL, CLASS_BUTTON, BUTTON, 61, 95, 43, 13, "Button"},
    {IDC_HELP_BUTTON, CLASS_BUTTON, BUTTON, 111, 95, 43, 13, "Button"},
    {IDC_LOGO, CLASS_STATIC, CHILD | SS_BITMAP | SS_REALSIZEIMAGE, 161, 93, 62, 15, "Static"},
};

INT_PTR CALLBACK TemplateOnlyProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// ---- manifest -----------------------------------------------------------

// The attributes of the first element of this name in the text.
std::map<std::string, std::string> Attributes(const std::string &xml, const std::string &element)
{
    std::map<std::string, std::string> attributes;
    size_t start = xml.find("<" + element);
    if (start == std::string::npos)
        return attributes;
    size_t end = xml.find('>', start);
    std::string tag = xml.substr(start, end - start);
    size_t pos = element.size() + 1;
    while (true) {
        size_t eq = tag.find("=\"", pos);
        if (eq == std::string::npos)
            break;
        size_t nameStart = tag.find_last_of(" \t\r\n", eq) + 1;
        size_t valueEnd = tag.find('"', eq + 2);
        attributes[tag.substr(nameStart, eq - nameStart)] = tag.substr(eq + 2, valueEnd - eq - 2);
        pos = valueEnd + 1;
    }
    return attributes;
}

std::string ProgramFile()
{
    return WindowsPath(PROGRAM_PATH);
}

}  // namespace

// ---- string table --------------------------------------------------------

TEST(StringTable, EveryBlockExistsInTheNineLanguagesOnly)
{
    const std::set<LANGID> nine = {0x0409, 0x0407, 0x040C, 0x0410, 0x000A,
                                   0x0013, 0x001D, 0x0403, 0x0816};
    // Strings live in blocks of 16: 103 and 110-111 in block 7, 112-122 in
    // 8, 130, 140 and 141 in 9, 150 in 10.
    for (UINT block : {7u, 8u, 9u, 10u}) {
        SCOPED_TRACE("block " + std::to_string(block));
        std::vector<LANGID> found = Languages(Self(), (LPCSTR)RT_STRING, MAKEINTRESOURCEA(block));
        std::set<LANGID> languages(found.begin(), found.end());
        EXPECT_EQ(found.size(), languages.size()) << "a language appears twice";
        EXPECT_EQ(nine, languages);
    }
}

TEST(StringTable, TextsAsStoredInEveryLanguage)
{
    for (const LanguageTexts &language : kLanguages) {
        for (int i = 0; i < STRING_COUNT; i++) {
            SCOPED_TRACE(std::string(language.name) + ", string " + std::to_string(kStringIds[i]));
            std::wstring stored = StoredString(Self(), kStringIds[i], language.id);
            std::wstring expected = Utf16(language.texts[i]);
            EXPECT_EQ(expected, stored) << "stored:   " << Narrow(stored)
                                        << "\nexpected: " << Narrow(expected);
            // Every reader's buffer is 256 bytes (260 for the help file).
            EXPECT_LT(stored.size(), 256u);
        }
    }
}

// Run once per locale by CTest (LANG and a LOCPATH that holds the locale):
// the texts as the program reads them, through the narrow interface.
TEST(StringsByLocale, LoaderPicksTheTableOfTheUserInterfaceLanguage)
{
    std::string lang;
    const LocaleCase *locale = LocaleOfEnvironment(&lang);
    if (locale == NULL)
        GTEST_SKIP() << "LANG=\"" << lang << "\" is not one of the locales of this test";
    LANGID ui = GetUserDefaultUILanguage();
    if (ui != locale->uiLanguage)
        GTEST_SKIP() << "Wine runs in language " << Hex(ui) << ", not " << Hex(locale->uiLanguage)
                     << " of LANG=" << lang
                     << ": the C library cannot load that locale (see make-locales.sh)";
    const LanguageTexts *expected = FindLanguage(locale->table);
    ASSERT_TRUE(expected != NULL);
    if (PRIMARYLANGID(ui) != LANG_JAPANESE) {
        ASSERT_EQ(1252u, GetACP()) << "the nine languages use code page 1252";
    }

    for (int i = 0; i < STRING_COUNT; i++) {
        SCOPED_TRACE(lang + ", string " + std::to_string(kStringIds[i]));
        std::string want = Cp1252(expected->texts[i]);
        char buffer[256];
        memset(buffer, 'Z', sizeof(buffer));
        SetLastError(0xDEADBEEF);
        int n = LoadStringA(Self(), kStringIds[i], buffer, (int)sizeof(buffer));
        ASSERT_GT(n, 0) << "last error " << GetLastError();
        ASSERT_LT(n, (int)sizeof(buffer));
        EXPECT_EQ('\0', buffer[n]);
        std::string got(buffer, (size_t)n);
        EXPECT_EQ(want, got) << "got      " << HexOf(got) << "\nexpected " << HexOf(want);
    }
}

// ---- dialog 103 ------------------------------------------------------------

TEST(DialogTemplate, ExtendedTemplateMarkedGermanWithItsStylesAndFont)
{
    EXPECT_EQ(0x0407, OnlyLanguage(Self(), (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_CONFIG)));
    DialogTemplate d =
        ParseDialogTemplate(ResourceBytes(Self(), (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_CONFIG),
                                          MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)));
    ASSERT_TRUE(d.valid) << "not a well-formed extended template";
    EXPECT_EQ(1, d.version);
    EXPECT_EQ(0xFFFF, d.signature);
    EXPECT_EQ(0u, d.helpId);
    EXPECT_EQ(0u, d.exStyle);
    EXPECT_EQ(Hex(WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT), Hex(d.style));
    EXPECT_EQ(25, d.x);
    EXPECT_EQ(20, d.y);
    EXPECT_EQ(230, d.cx);
    EXPECT_EQ(116, d.cy);
    EXPECT_TRUE(!d.menu.isOrdinal && d.menu.text.empty()) << "no menu";
    EXPECT_TRUE(!d.cls.isOrdinal && d.cls.text.empty()) << "the standard dialog class";
    EXPECT_EQ(8, d.pointSize);
    EXPECT_EQ(400, d.weight);
    EXPECT_EQ(0, d.italic);
    EXPECT_EQ(0, d.charset);
    EXPECT_EQ(L"MS Sans Serif", d.face);
}

TEST(DialogTemplate, TwelveControlsInTabOrderWithIdsKindsStylesAndPlaces)
{
    DialogTemplate d =
        ParseDialogTemplate(ResourceBytes(Self(), (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_CONFIG),
                                          MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)));
    ASSERT_TRUE(d.valid);
    ASSERT_EQ(12u, d.items.size());
    for (size_t i = 0; i < d.items.size(); i++) {
        const TemplateItem &item = d.items[i];
        const ExpectedControl &want = kControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string((int)want.id));
        EXPECT_EQ(want.id, item.id);
        EXPECT_TRUE(item.cls.isOrdinal) << "class stored by name: " << Narrow(item.cls.text);
        EXPECT_EQ(Hex(want.cls), Hex(item.cls.ordinal));
        EXPECT_EQ(Hex(want.style), Hex(item.style));
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(0u, item.helpId);
        EXPECT_EQ(want.x, item.x);
        EXPECT_EQ(want.y, item.y);
        EXPECT_EQ(want.cx, item.cx);
        EXPECT_EQ(want.cy, item.cy);
        EXPECT_EQ(0, item.extraCount);
    }
    // The texts that are not placeholders: the group box's, the logo's
    // bitmap number and the three empty fields.
    EXPECT_EQ(L"VR Classic Universal Driver", d.items[7].text.text);
    EXPECT_TRUE(d.items[11].text.isOrdinal);
    EXPECT_EQ(IDB_LOGO, d.items[11].text.ordinal);
    for (int field : {1, 3, 5}) {
        EXPECT_TRUE(!d.items[field].text.isOrdinal && d.items[field].text.text.empty())
            << "field " << kControls[field].id;
    }
}

TEST(DialogTemplate, PlatformBuildsTheDialogAsLaidOut)
{
    SetLastError(0xDEADBEEF);
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(IDD_CONFIG), NULL, TemplateOnlyProc, 0);
    ASSERT_TRUE(dialog != NULL) << "last error " << GetLastError();

    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ((LONG)WS_CAPTION, style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) << "modal frame";
    EXPECT_FALSE(style & WS_CHILD);

    // Centred on the screen's work area, whatever the template's position.
    RECT window, work;
    GetWindowRect(dialog, &window);
    MONITORINFO monitor;
    ZeroMemory(&monitor, sizeof(monitor));
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor));
    work = monitor.rcWork;
    EXPECT_NEAR((work.left + work.right) / 2, (window.left + window.right) / 2, 1);
    EXPECT_NEAR((work.top + work.bottom) / 2, (window.top + window.bottom) / 2, 1);

    // The font: MS Sans Serif, 8 points, normal weight, upright.
    HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    ASSERT_TRUE(font != NULL);
    LOGFONTA lf;
    ASSERT_EQ((int)sizeof(lf), GetObjectA(font, sizeof(lf), &lf));
    HDC screen = GetDC(NULL);
    int pixels = MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(NULL, screen);
    EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);
    EXPECT_EQ(-pixels, lf.lfHeight);
    EXPECT_EQ(FW_NORMAL, lf.lfWeight);
    EXPECT_EQ(0, lf.lfItalic);

    // The children, in creation (= template) order, where the template puts
    // them in dialog units.
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ExpectedControl &want : kControls) {
        SCOPED_TRACE("id " + std::to_string((int)want.id));
        ASSERT_TRUE(child != NULL) << "fewer children than controls";
        EXPECT_EQ((int)want.id, GetDlgCtrlID(child));
        char cls[64];
        GetClassNameA(child, cls, sizeof(cls));
        EXPECT_STRCASEEQ(want.className, cls);
        LONG childStyle = GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ((LONG)(WS_CHILD | WS_VISIBLE), childStyle & (WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(want.style & WS_TABSTOP, childStyle & WS_TABSTOP);
        EXPECT_EQ(want.style & WS_GROUP, childStyle & WS_GROUP);
        EXPECT_EQ(want.style & ES_NUMBER, want.cls == CLASS_EDIT ? childStyle & ES_NUMBER : 0);
        if (want.cls == CLASS_BUTTON) {
            EXPECT_EQ(want.style & BS_TYPEMASK, childStyle & BS_TYPEMASK);
        }
        if (want.cls == CLASS_STATIC) {
            EXPECT_EQ(want.style & SS_TYPEMASK, childStyle & SS_TYPEMASK);
        }

        // Position and size convert each on its own, as the dialog
        // manager converts them.
        RECT units = {want.x, want.y, want.cx, want.cy};
        MapDialogRect(dialog, &units);
        RECT placed;
        GetWindowRect(child, &placed);
        MapWindowPoints(NULL, dialog, (POINT *)&placed, 2);
        EXPECT_EQ(units.left, placed.left);
        EXPECT_EQ(units.top, placed.top);
        if (want.id != IDC_LOGO) {
            EXPECT_EQ(units.right, placed.right - placed.left);
            EXPECT_EQ(units.bottom, placed.bottom - placed.top);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_TRUE(child == NULL) << "more children than controls";

    // The logo shows bitmap 130 at its real size, not stretched to the
    // control's dialog units.
    HWND logo = GetDlgItem(dialog, IDC_LOGO);
    HBITMAP shown = (HBITMAP)SendMessageA(logo, STM_GETIMAGE, IMAGE_BITMAP, 0);
    ASSERT_TRUE(shown != NULL);
    BITMAP bm;
    ASSERT_EQ((int)sizeof(bm), GetObjectA(shown, sizeof(bm), &bm));
    EXPECT_EQ(93, bm.bmWidth);
    EXPECT_EQ(25, bm.bmHeight);
    RECT logoClient;
    GetClientRect(logo, &logoClient);
    EXPECT_EQ(93, logoClient.right);
    EXPECT_EQ(25, logoClient.bottom);

    char groupText[64];
    GetWindowTextA(GetWindow(GetDlgItem(dialog, IDC_TIMEOUT_UNIT), GW_HWNDNEXT), groupText,
                   sizeof(groupText));
    EXPECT_STREQ("VR Classic Universal Driver", groupText);

    // Tab order is template order: the three fields, then the three buttons.
    std::vector<int> tabOrder;
    HWND first = GetDlgItem(dialog, IDC_ADDRESS);
    HWND item = first;
    do {
        tabOrder.push_back(GetDlgCtrlID(item));
        item = GetNextDlgTabItem(dialog, item, FALSE);
    } while (item != NULL && item != first && tabOrder.size() < 20);
    EXPECT_EQ((std::vector<int>{IDC_ADDRESS, IDC_COMMUNITY, IDC_TIMEOUT, IDOK, IDCANCEL,
                                IDC_HELP_BUTTON}),
              tabOrder);

    DestroyWindow(dialog);
}

// ---- logo, icon, manifest, version --------------------------------------------

TEST(Logo, Bitmap130Is93By25With24BitsOnWhite)
{
    EXPECT_EQ(0x0407, OnlyLanguage(Self(), (LPCSTR)RT_BITMAP, MAKEINTRESOURCEA(IDB_LOGO)));
    std::vector<BYTE> bytes = ResourceBytes(Self(), (LPCSTR)RT_BITMAP, MAKEINTRESOURCEA(IDB_LOGO),
                                            MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER info;
    memcpy(&info, bytes.data(), sizeof(info));
    EXPECT_EQ(sizeof(BITMAPINFOHEADER), info.biSize);
    EXPECT_EQ(93, info.biWidth);
    EXPECT_EQ(25, info.biHeight);
    EXPECT_EQ(1, info.biPlanes);
    EXPECT_EQ(24, info.biBitCount);
    EXPECT_EQ((DWORD)BI_RGB, info.biCompression);
    const size_t stride = (93 * 3 + 3) & ~3;
    ASSERT_GE(bytes.size(), info.biSize + stride * 25);
    const BYTE *pixels = bytes.data() + info.biSize;
    auto isWhite = [&](int x, int y) {
        const BYTE *p = pixels + (size_t)y * stride + (size_t)x * 3;
        return p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
    };
    // White behind the mark, and a mark on it.
    int white = 0;
    for (int y = 0; y < 25; y++)
        for (int x = 0; x < 93; x++)
            white += isWhite(x, y);
    EXPECT_TRUE(isWhite(0, 0) && isWhite(92, 0) && isWhite(0, 24) && isWhite(92, 24));
    EXPECT_GT(white, 93 * 25 / 2) << "the background is white";
    EXPECT_LT(white, 93 * 25 * 95 / 100) << "something is drawn on it";

    HBITMAP loaded = (HBITMAP)LoadImageA(Self(), MAKEINTRESOURCEA(IDB_LOGO), IMAGE_BITMAP, 0, 0,
                                         LR_CREATEDIBSECTION);
    ASSERT_TRUE(loaded != NULL);
    DIBSECTION dib;
    ASSERT_EQ((int)sizeof(dib), GetObjectA(loaded, sizeof(dib), &dib));
    EXPECT_EQ(93, dib.dsBm.bmWidth);
    EXPECT_EQ(25, dib.dsBm.bmHeight);
    EXPECT_EQ(24, dib.dsBm.bmBitsPixel);
    DeleteObject(loaded);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST(Icon, Group129HoldsA32And16PixelImageOf16Colours)
{
    EXPECT_EQ(0x0407, OnlyLanguage(Self(), (LPCSTR)RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_PROGRAM)));
    std::vector<BYTE> group = ResourceBytes(Self(), (LPCSTR)RT_GROUP_ICON,
                                            MAKEINTRESOURCEA(IDI_PROGRAM),
                                            MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_EQ(6u + 2 * sizeof(GroupIconEntry), group.size());
    const WORD *header = (const WORD *)group.data();
    EXPECT_EQ(0, header[0]);
    EXPECT_EQ(1, header[1]) << "an icon group, not a cursor group";
    ASSERT_EQ(2, header[2]);
    const GroupIconEntry *entries = (const GroupIconEntry *)(group.data() + 6);
    const int sizes[2] = {32, 16};
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE("image " + std::to_string(sizes[i]));
        const GroupIconEntry &e = entries[i];
        EXPECT_EQ(sizes[i], e.width);
        EXPECT_EQ(sizes[i], e.height);
        EXPECT_EQ(16, e.colorCount);
        EXPECT_EQ(1, e.planes);
        EXPECT_EQ(4, e.bitCount);
        std::vector<BYTE> image = ResourceBytes(Self(), (LPCSTR)RT_ICON, MAKEINTRESOURCEA(e.id),
                                                MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
        ASSERT_EQ(e.bytesInRes, image.size());
        BITMAPINFOHEADER info;
        ASSERT_GE(image.size(), sizeof(info));
        memcpy(&info, image.data(), sizeof(info));
        EXPECT_EQ(sizes[i], info.biWidth);
        EXPECT_EQ(2 * sizes[i], info.biHeight) << "colour image and mask";
        EXPECT_EQ(4, info.biBitCount);

        HICON icon = (HICON)LoadImageA(Self(), MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                                       sizes[i], sizes[i], 0);
        ASSERT_TRUE(icon != NULL);
        ICONINFO iconInfo;
        ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
        BITMAP colour;
        GetObjectA(iconInfo.hbmColor, sizeof(colour), &colour);
        EXPECT_EQ(sizes[i], colour.bmWidth);
        EXPECT_EQ(sizes[i], colour.bmHeight);
        DeleteObject(iconInfo.hbmColor);
        DeleteObject(iconInfo.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(Manifest, Resource1RequestsCommonControls6ForAmd64)
{
    // Resource 1: the manifest the loader applies to the process.
    std::vector<LANGID> languages =
        Languages(Self(), (LPCSTR)RT_MANIFEST, MAKEINTRESOURCEA(1));
    ASSERT_EQ(1u, languages.size());
    std::vector<BYTE> bytes = ResourceBytes(Self(), (LPCSTR)RT_MANIFEST,
                                            MAKEINTRESOURCEA(1),
                                            languages[0]);
    std::string xml(bytes.begin(), bytes.end());
    size_t dependency = xml.find("<dependentAssembly>");
    ASSERT_NE(std::string::npos, dependency) << xml;
    std::map<std::string, std::string> identity =
        Attributes(xml.substr(dependency), "assemblyIdentity");
    EXPECT_EQ("win32", identity["type"]);
    EXPECT_EQ("Microsoft.Windows.Common-Controls", identity["name"]);
    EXPECT_EQ("6.0.0.0", identity["version"]);
    EXPECT_EQ("amd64", identity["processorArchitecture"]);
    EXPECT_EQ("6595b64144ccf1df", identity["publicKeyToken"]);

    // The platform honoured it: this process's common controls come from the
    // side-by-side assembly of version 6.0 (Wine's copy there still reports
    // 5.81 through DllGetVersion, so the place is what tells).
    InitCommonControls();
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    ASSERT_TRUE(comctl != NULL);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(comctl, path, MAX_PATH), 0u);
    std::string loaded = path;
    for (char &c : loaded)
        c = (char)tolower((unsigned char)c);
    EXPECT_NE(std::string::npos,
              loaded.find("\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0."))
        << path;
}

TEST(ProgramFile, VersionIs3100)
{
    std::string path = ProgramFile();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << path;
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0x00030001u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00030001u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
}

namespace {

struct ResourceKey {
    std::string type, name;
    LANGID language;
    bool operator<(const ResourceKey &o) const
    {
        return std::tie(type, name, language) < std::tie(o.type, o.name, o.language);
    }
};

std::string ResourceName(LPCSTR name)
{
    return IS_INTRESOURCE(name) ? "#" + std::to_string((UINT_PTR)name) : std::string(name);
}

struct Collected {
    HMODULE module;
    std::map<ResourceKey, std::vector<BYTE>> resources;
};

BOOL CALLBACK CollectEveryLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                                   LONG_PTR param)
{
    Collected *c = (Collected *)param;
    c->resources[{ResourceName(type), ResourceName(name), language}] =
        ResourceBytes(module, type, name, language);
    return TRUE;
}

BOOL CALLBACK CollectEveryName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    EnumResourceLanguagesA(module, type, name, CollectEveryLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectEveryType(HMODULE module, LPSTR type, LONG_PTR param)
{
    EnumResourceNamesA(module, type, CollectEveryName, param);
    return TRUE;
}

std::map<ResourceKey, std::vector<BYTE>> EveryResource(HMODULE module)
{
    Collected c = {module, {}};
    EnumResourceTypesA(module, CollectEveryType, (LONG_PTR)&c);
    return c.resources;
}

}  // namespace

TEST(ProgramFile, CarriesExactlyTheseResources)
{
    std::string path = ProgramFile();
    HMODULE program = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(program != NULL) << path << ": " << GetLastError();
    std::map<ResourceKey, std::vector<BYTE>> inProgram = EveryResource(program);
    std::map<ResourceKey, std::vector<BYTE>> inTests = EveryResource(Self());
    FreeLibrary(program);

    // What the program holds, by type: the string blocks 7-10 in nine
    // languages, and once each the icon (group and two images), bitmap,
    // dialog, version and manifest.
    std::map<std::string, int> perType;
    for (auto &entry : inProgram)
        perType[entry.first.type]++;
    std::map<std::string, int> expected = {
        {"#6", 4 * 9}, {"#14", 1}, {"#3", 2}, {"#2", 1}, {"#5", 1}, {"#16", 1}, {"#24", 1}};
    EXPECT_EQ(expected, perType);

    // The tests look at their own copy: it is the same.
    EXPECT_EQ(inProgram.size(), inTests.size());
    for (auto &entry : inProgram) {
        SCOPED_TRACE(entry.first.type + " " + entry.first.name + " " + Hex(entry.first.language));
        auto same = inTests.find(entry.first);
        ASSERT_TRUE(same != inTests.end());
        EXPECT_TRUE(same->second == entry.second);
    }
}
