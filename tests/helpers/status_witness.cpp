// status_witness.cpp: starts a program in its own console, waits for it and
// writes down its exit status, all 32 bits, which a Linux parent of Wine
// cannot see (it gets 8 bits).
//
// The program's command line is the witness's own after its program name,
// passed on as it is. The witness stays out of the way of console events: it
// handles Ctrl+C and Ctrl+Break by ignoring them (a handler, not the ignore
// flag, which its child would inherit).
//
// Chosen through the environment:
//   WITNESS_STATUS=path       the status is written there as 8 hex digits and
//                             "\n" once the program has ended
//   WITNESS_TEMP=dir          TEMP and TMP for the program
//   WITNESS_SLOW_WHEN=path    once that file exists, the program's first
//                             thread is slowed down: held suspended 20 ms out
//                             of every 21, until the program ends, so that
//                             the work that made the file lasts long enough
//                             for a console event to land in it. (Not held
//                             for good: Wine starts a console handler's
//                             thread through a thread of the process that
//                             is not suspended.)
//   WITNESS_SLOWED=path       written once the thread was first held
#include <windows.h>
#include <stdio.h>

#include <string>

namespace {

std::wstring option(const wchar_t *name)
{
    wchar_t value[4096];
    DWORD n = GetEnvironmentVariableW(name, value, 4096);
    return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

void put_file(const std::wstring &path, const std::string &bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(f);
}

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI ignore_interrupts(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// The platform's rule for argument 0: a quoted run, or up to a space or tab.
const wchar_t *after_program_name(const wchar_t *line)
{
    if (*line == L'"') {
        const wchar_t *end = wcschr(line + 1, L'"');
        line = end != NULL ? end + 1 : line + wcslen(line);
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') line++;
    }
    while (*line == L' ' || *line == L'\t') line++;
    return line;
}

}  // namespace

int wmain()
{
    SetConsoleCtrlHandler(ignore_interrupts, TRUE);
    std::wstring status_path = option(L"WITNESS_STATUS");
    std::wstring temp = option(L"WITNESS_TEMP");
    std::wstring slow_when = option(L"WITNESS_SLOW_WHEN");
    std::wstring slowed = option(L"WITNESS_SLOWED");
    if (!temp.empty()) {
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        SetEnvironmentVariableW(L"TMP", temp.c_str());
    }

    std::wstring command_line = after_program_name(GetCommandLineW());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, &command_line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "status witness: cannot start the program (error %lu)\n", GetLastError());
        return 1;
    }
    if (!slow_when.empty()) {
        // Polled often, so that the program is caught early in the work that
        // makes the file, however fast the machine.
        while (!exists(slow_when) && WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {}
        for (bool first = true; SuspendThread(process.hThread) != static_cast<DWORD>(-1); first = false) {
            if (first) put_file(slowed, "slowed\n");
            bool ended = WaitForSingleObject(process.hProcess, 20) != WAIT_TIMEOUT;
            ResumeThread(process.hThread);
            if (ended || WaitForSingleObject(process.hProcess, 1) != WAIT_TIMEOUT) break;
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        fprintf(stderr, "status witness: cannot read the exit code (error %lu)\n", GetLastError());
        return 1;
    }
    char text[16];
    snprintf(text, sizeof text, "%08lx\n", static_cast<unsigned long>(code));
    // Written aside and renamed, so that a file at that path is always whole.
    std::wstring aside = status_path + L".part";
    put_file(aside, text);
    MoveFileExW(aside.c_str(), status_path.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}
