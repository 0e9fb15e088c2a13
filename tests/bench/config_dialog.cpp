// The configuration dialog's template as code under test meets it, and the
// printers that the feature configurators' tests ask.
#include "tests/bench/bench.h"
#include "resources/resource_ids.h"

#include <fstream>
#include <sstream>

namespace {

INT_PTR CALLBACK InertDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

}  // namespace

HWND CreateConfigTemplateDialog()
{
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                              InertDialogProc, 0);
}

void SetQueryFields(HWND dialog, const char *address, const char *community,
                    const char *timeout)
{
    SetDlgItemTextA(dialog, IDC_ADDRESS, address);
    SetDlgItemTextA(dialog, IDC_COMMUNITY, community);
    SetDlgItemTextA(dialog, IDC_TIMEOUT, timeout);
}

bool OptionsAgentAvailable(std::string *reason)
{
    std::string dir = WindowsPath(OPTIONS_AGENT_DIR) + "\\";
    std::ifstream unavailable(dir + "unavailable");
    if (unavailable) {
        std::stringstream text;
        text << unavailable.rdbuf();
        *reason = text.str();
        return false;
    }
    if (GetFileAttributesA((dir + "snmpd.pid").c_str()) == INVALID_FILE_ATTRIBUTES) {
        *reason = "tests/agents/printer-agents.sh has not started the agents";
        return false;
    }
    return true;
}
