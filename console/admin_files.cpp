// The files the program makes for the administrators (the report, its
// temporary file and the log) and the accounts it trusts with them: SYSTEM,
// the Administrators group and the account that runs it. A nightly task runs
// as SYSTEM in a folder that other users may reach: what it makes carries a
// protected access list of its own, nothing inherited; a name it writes is
// never one another user could have made first; and an existing log is
// appended to only when one of those accounts owns it and it leads nowhere
// else (a second link, a reparse point).
#include "console/console.h"
#include "common/text.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <string.h>

enum {
    SID_TEXT_SIZE = 256,
    // Random names collide only when planted: a few tries are plenty.
    UNIQUE_NAME_TRIES = 8,
    RANDOM_NAME_BYTES = 12
};

// The running account's SID, taken once.
static BYTE s_accountSid[SECURITY_MAX_SID_SIZE];
static int s_accountKnown;

static int FillRandom(BYTE *bytes, ULONG size)
{
    return BCryptGenRandom(NULL, bytes, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
int (*g_fillNameRandom)(BYTE *bytes, ULONG size) = FillRandom;

static PSID RunningAccountSid(void)
{
    HANDLE token = NULL;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD got = 0;
    if (s_accountKnown)
        return (PSID)s_accountSid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &got) &&
        CopySid(sizeof(s_accountSid), (PSID)s_accountSid, ((TOKEN_USER *)buffer)->User.Sid))
        s_accountKnown = 1;
    if (token != NULL)
        CloseHandle(token);
    return s_accountKnown ? (PSID)s_accountSid : NULL;
}

static int IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(known);
    return CreateWellKnownSid(type, NULL, known, &size) && EqualSid(sid, known);
}

int IsTrustedAccount(PSID sid)
{
    PSID account = RunningAccountSid();
    return sid != NULL && IsValidSid(sid) &&
           (IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
            (account != NULL && EqualSid(sid, account)));
}

void DescribeAccount(PSID sid, char *text, size_t textSize)
{
    WCHAR name[SID_TEXT_SIZE], domain[SID_TEXT_SIZE];
    char nameText[SID_TEXT_SIZE * UTF8_PER_UNIT], domainText[SID_TEXT_SIZE * UTF8_PER_UNIT];
    DWORD nameCount = COUNTOF(name), domainCount = COUNTOF(domain);
    SID_NAME_USE use;
    char *sidText = NULL;
    CopyText(text, textSize, "an unknown account");
    if (sid == NULL || !IsValidSid(sid))
        return;
    if (LookupAccountSidW(NULL, sid, name, &nameCount, domain, &domainCount, &use) &&
        WideToUtf8(name, nameText, COUNTOF(nameText)) &&
        WideToUtf8(domain, domainText, COUNTOF(domainText))) {
        FormatText(text, textSize, "%s%s%s", domainText, domainText[0] != '\0' ? "\\" : "",
                   nameText);
        return;
    }
    // An account this computer cannot name: its SID.
    if (ConvertSidToStringSidA(sid, &sidText)) {
        CopyText(text, textSize, sidText);
        LocalFree(sidText);
    }
}

// D:P: protected, so nothing of the folder's list is inherited. FA for
// SYSTEM, the Administrators and the running account.
int MakeAdminSecurity(SECURITY_ATTRIBUTES *attributes)
{
    PSID account = RunningAccountSid();
    char *accountText = NULL;
    char sddl[SID_TEXT_SIZE + 64];
    PSECURITY_DESCRIPTOR descriptor = NULL;
    int ok = 0;
    memset(attributes, 0, sizeof(*attributes));
    if (account == NULL || !ConvertSidToStringSidA(account, &accountText))
        goto done;
    FormatText(sddl, COUNTOF(sddl), "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%s)", accountText);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              NULL))
        goto done;
    attributes->nLength = sizeof(*attributes);
    attributes->lpSecurityDescriptor = descriptor;
    attributes->bInheritHandle = FALSE;
    ok = 1;
done:
    if (accountText != NULL)
        LocalFree(accountText);
    return ok;
}

void FreeAdminSecurity(SECURITY_ATTRIBUTES *attributes)
{
    if (attributes->lpSecurityDescriptor != NULL)
        LocalFree(attributes->lpSecurityDescriptor);
    attributes->lpSecurityDescriptor = NULL;
}

HANDLE CreateUniqueFile(const char *base, const char *suffix, char *path, size_t pathSize)
{
    SECURITY_ATTRIBUTES attributes;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    if (!MakeAdminSecurity(&attributes)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return INVALID_HANDLE_VALUE;
    }
    for (int attempt = 0; attempt < UNIQUE_NAME_TRIES && error == ERROR_FILE_EXISTS; attempt++) {
        BYTE random[RANDOM_NAME_BYTES];
        char hex[2 * RANDOM_NAME_BYTES + 1];
        WCHAR wide[PATH_TEXT_SIZE + 64];
        if (!g_fillNameRandom(random, sizeof(random))) {
            error = ERROR_GEN_FAILURE;
            break;
        }
        for (size_t i = 0; i < sizeof(random); i++)
            FormatText(hex + 2 * i, 3, "%02x", random[i]);
        FormatText(path, pathSize, "%s.%s%s", base, hex, suffix);
        if (!Utf8ToWide(path, wide, COUNTOF(wide))) {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        // Only a name nobody made first: a planted one is never opened.
        file = CreateFileW(wide, GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    FreeAdminSecurity(&attributes);
    SetLastError(error);
    return file;
}

int JudgeExistingLog(PSID owner, DWORD attributes, DWORD links, const char *path, char *error,
                     size_t errorSize)
{
    char account[SID_TEXT_SIZE * 2];
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FormatText(error, errorSize, "--log: \"%s\" is a link (a reparse point) and is not "
                   "written; remove it, the run makes the file anew", path);
        return 0;
    }
    if (links != 1) {
        FormatText(error, errorSize, "--log: \"%s\" has %lu links (another name for the same "
                   "file) and is not written; remove it, the run makes the file anew", path,
                   (unsigned long)links);
        return 0;
    }
    if (!IsTrustedAccount(owner)) {
        DescribeAccount(owner, account, COUNTOF(account));
        FormatText(error, errorSize, "--log: \"%s\" is owned by %s, not by SYSTEM, the "
                   "Administrators or the account that runs this, and is not written", path,
                   account);
        return 0;
    }
    return 1;
}

HANDLE OpenAdminLog(const char *path, char *error, size_t errorSize)
{
    SECURITY_ATTRIBUTES attributes;
    WCHAR wide[PATH_TEXT_SIZE];
    HANDLE file = INVALID_HANDLE_VALUE;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PSID owner = NULL;
    BY_HANDLE_FILE_INFORMATION information;
    DWORD result = 0;
    // Appends only: every line lands whole at the end even when another run
    // appends too.
    const DWORD access = FILE_APPEND_DATA | READ_CONTROL | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;

    memset(&attributes, 0, sizeof(attributes));
    if (!Utf8ToWide(path, wide, COUNTOF(wide))) {
        FormatText(error, errorSize, "--log: \"%s\" is too long a path", path);
        goto failed;
    }
    if (!MakeAdminSecurity(&attributes)) {
        FormatText(error, errorSize, "--log: the access list for \"%s\" could not be made "
                   "(error %lu)", path, GetLastError());
        goto failed;
    }
    file = CreateFileW(wide, access, share, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        goto done;
    if (GetLastError() != ERROR_FILE_EXISTS) {
        FormatText(error, errorSize, "--log: \"%s\" cannot be opened to append (error %lu)",
                   path, GetLastError());
        goto failed;
    }
    // The file itself, not where a link would lead: judged on this handle.
    file = CreateFileW(wide, access, share, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        FormatText(error, errorSize, "--log: \"%s\" cannot be opened to append (error %lu)",
                   path, GetLastError());
        goto failed;
    }
    result = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL,
                             NULL, NULL, &descriptor);
    if (result != ERROR_SUCCESS || !GetFileInformationByHandle(file, &information)) {
        FormatText(error, errorSize, "--log: who owns \"%s\" cannot be checked (error %lu), "
                   "so it is not written", path, result != ERROR_SUCCESS ? result : GetLastError());
        goto failed;
    }
    if (!JudgeExistingLog(owner, information.dwFileAttributes, information.nNumberOfLinks, path,
                          error, errorSize))
        goto failed;
    goto done;
failed:
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
done:
    if (descriptor != NULL)
        LocalFree(descriptor);
    FreeAdminSecurity(&attributes);
    return file;
}
