// links.cpp: symbolic links made and removed without touching their targets, and tree snapshots.
#include "links.h"

#include <windows.h>

#include <stdexcept>

#include "test_paths.h"

namespace {

typedef char *(__cdecl *UnixNameFunction)(const wchar_t *);

UnixNameFunction unix_name_function()
{
    return reinterpret_cast<UnixNameFunction>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

std::wstring unix_path(const std::wstring &path)
{
    char *name = unix_name_function()(path.c_str());
    if (name == nullptr) throw std::runtime_error("no Unix name for " + narrow(path));
    std::wstring wide = widen(name);
    HeapFree(GetProcessHeap(), 0, name);
    return wide;
}

// Runs a Unix shell command and waits until it has run. Wine gives back a
// handle that ends before the Unix program does, with no exit code of its
// own, so the command ends by making a file, which is waited for here.
void run_unix(const std::wstring &command)
{
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring done = std::wstring(temp) + L"zobrel-unix-done-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    DeleteFileW(done.c_str());
    std::wstring line = L"/bin/sh -c \"" + command + L"; : > '" + unix_path(done) + L"'\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        throw std::runtime_error("cannot run " + narrow(line));
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 6000 && GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; i++) Sleep(10);
    if (!DeleteFileW(done.c_str()))
        throw std::runtime_error("the Unix command never ran: " + narrow(command));
}

void take(const std::wstring &dir, const std::wstring &prefix, std::map<std::wstring, std::string> *out)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[prefix + name + L"\\"] = "";
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                take(dir + L"\\" + name, prefix + name + L"\\", out);
            }
        } else {
            (*out)[prefix + name] = read_file(dir + L"\\" + name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

bool under_wine()
{
    return unix_name_function() != nullptr;
}

void make_link(const std::wstring &link, const std::wstring &target, bool folder)
{
    if (under_wine()) {
        run_unix(L"ln -s '" + unix_path(target) + L"' '" + unix_path(link) + L"'");
        return;
    }
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // ..._ALLOW_UNPRIVILEGED_CREATE
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) {
        throw std::runtime_error("cannot make the link " + narrow(link));
    }
}

void remove_link(const std::wstring &link)
{
    if (under_wine()) {
        run_unix(L"rm -f '" + unix_path(link) + L"'");
        return;
    }
    if (!RemoveDirectoryW(link.c_str())) DeleteFileW(link.c_str());
}

std::map<std::wstring, std::string> snapshot(const std::wstring &dir)
{
    std::map<std::wstring, std::string> out;
    take(dir, L"", &out);
    return out;
}
