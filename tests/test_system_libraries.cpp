// The libraries loaded at run time (the help viewer's, the theme's) come
// from the system directory: copies of our own under their names, planted
// beside this test program (tests/planted) and preferred to Wine's own
// (tests/CMakeLists.txt), record a call of the entry the program wants from
// them; it must reach the system's library instead.
#include "shell/help.h"
#include "shell/shell.h"
#include "tests/bench/bench.h"

#include <gtest/gtest.h>

namespace {

const struct {
    const char *file;
    void (*load)(HWND dialog);
} PLANTED[] = {
    {"hhctrl.ocx", [](HWND dialog) { ShowHelp(dialog); }},
    {"uxtheme.dll", [](HWND dialog) { InitConfigDialog(dialog); }},
};

TEST(SystemLibraries, ACopyBesideTheProgramIsNeverUsed)
{
    g_hInstance = GetModuleHandleA(NULL);
    for (const auto &planted : PLANTED) {
        SCOPED_TRACE(planted.file);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA((ProgramDirectory() + planted.file).c_str()))
            << "the planted copy was not built beside the test";
        HWND dialog = CreateConfigTemplateDialog();
        ASSERT_NE(nullptr, dialog);
        // Wine's dialog code asks the theme library for the texture too.
        std::string marker = ProgramDirectory() + planted.file + ".called";
        DeleteFileA(marker.c_str());
        planted.load(dialog);
        DestroyWindow(dialog);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(marker.c_str()))
            << "the copy beside the program was called";
        DeleteFileA(marker.c_str());
    }
}

}  // namespace
