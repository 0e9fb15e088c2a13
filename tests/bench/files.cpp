// Files beside the running test program.
#include "tests/bench/bench.h"

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string p(path, n);
    size_t slash = p.find_last_of('\\');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

bool WriteProgramFile(const char *name, const std::string &content)
{
    std::string path = ProgramDirectory() + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = content.empty() ||
              WriteFile(file, content.data(), (DWORD)content.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == content.size();
}

void DeleteProgramFile(const char *name)
{
    DeleteFileA((ProgramDirectory() + name).c_str());
}

std::string WindowsPath(const char *unixPath)
{
    std::string p = std::string("Z:") + unixPath;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}
