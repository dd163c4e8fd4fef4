// unpack_app.cpp: a tiny application to pack for the unpacking tests. It may
// hold one of its own files open, the way a running program holds its data,
// or just keep running a while, and ends with a 32-bit exit code of its own,
// so a test can tell that it ran.
//
// Chosen through the environment (its arguments are not looked at):
//   APP_HOLD=relpath     open that file (relative to the program's folder)
//                        for reading, sharing reading only, and keep it open
//   APP_HELD=path        once it is open (or, without APP_HOLD, once it
//                        runs), create this file, holding its process id
//                        in decimal, so a test knows and can watch it
//   APP_RELEASE=path     keep running until this file exists (at most 120 s)
//   APP_HOLD_MS=n        or for this many milliseconds
// Exit codes: APP_EXIT_CODE below; 3 when the file to hold cannot be opened;
// 4 when, after waiting, its own program file is no longer where it was
// started from (its folder was moved or removed while it ran).
#include <windows.h>
#include <stdlib.h>

#include <string>

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;

std::wstring option(const wchar_t *name)
{
    wchar_t value[4096];
    DWORD n = GetEnvironmentVariableW(name, value, 4096);
    return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain()
{
    std::wstring hold = option(L"APP_HOLD");
    std::wstring release = option(L"APP_RELEASE");
    std::wstring ms = option(L"APP_HOLD_MS");
    if (hold.empty() && release.empty() && ms.empty()) return static_cast<int>(APP_EXIT_CODE);

    wchar_t self[4096];
    DWORD n = GetModuleFileNameW(NULL, self, 4096);
    std::wstring program(self, n);
    std::wstring dir = program.substr(0, program.rfind(L'\\'));
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!hold.empty()) {
        held = CreateFileW((dir + L"\\" + hold).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (held == INVALID_HANDLE_VALUE) return 3;
    }
    std::wstring marker = option(L"APP_HELD");
    if (!marker.empty()) {
        // Written aside and renamed: whoever sees the file sees the whole id.
        const std::wstring partial = marker + L".new";
        HANDLE m = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        const std::string id = std::to_string(GetCurrentProcessId());
        DWORD written = 0;
        WriteFile(m, id.data(), static_cast<DWORD>(id.size()), &written, NULL);
        CloseHandle(m);
        MoveFileExW(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    ULONGLONG end = GetTickCount64() + (ms.empty() ? 120000 : wcstoul(ms.c_str(), NULL, 10));
    while (GetTickCount64() < end && !(release.size() && exists(release))) Sleep(20);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (!exists(program)) return 4;
    return static_cast<int>(APP_EXIT_CODE);
}
