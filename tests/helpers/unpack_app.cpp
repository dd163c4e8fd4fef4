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
//   APP_SPAWN=inherit|alone  first start a copy of its own program, outside
//                        any job, inheriting this one's inheritable handles
//                        or not, with the other options as given (the copy
//                        writes APP_HELD and waits), and end at once
// Exit codes: APP_EXIT_CODE below; 3 when the file to hold cannot be opened;
// 5 when the copy to spawn cannot be started;
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

// Starts the program again as a process of its own, without APP_SPAWN; false
// when it cannot be started.
bool spawn_copy(bool inherit)
{
    wchar_t self[4096];
    DWORD n = GetModuleFileNameW(NULL, self, 4096);
    if (n == 0 || n >= 4096) return false;
    SetEnvironmentVariableW(L"APP_SPAWN", NULL);
    std::wstring command_line = L"\"" + std::wstring(self, n) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // The launcher's job allows silent breakaway: the copy is in no job, and
    // outlives this program and its launcher.
    if (!CreateProcessW(self, &command_line[0], NULL, NULL, inherit ? TRUE : FALSE, 0, NULL, NULL, &startup,
                        &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

int wmain()
{
    const std::wstring spawn = option(L"APP_SPAWN");
    if (!spawn.empty()) return spawn_copy(spawn == L"inherit") ? static_cast<int>(APP_EXIT_CODE) : 5;
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
