// arm64_runner.cpp: starts command lines and prints each one's exit code, all
// 32 bits, for the tests under ARM64 Wine (whose own exit status, seen from
// Linux, has 8).
//
//   arm64_runner [--parallel N] FILE
//
// FILE holds command lines in UTF-8, one per line. Each runs in turn, with
// this program's standard handles, environment and folder; after it ends,
// "exit 0x........" follows on standard output. With --parallel N, the first
// line is started N times at once, and once all have ended their exit codes
// are printed in the order they were started. Exit status 0 when every
// process started and ended, 3 otherwise (with "start failed" and the
// system's error code).
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "test_output.h"

namespace {

const int MAX_PARALLEL = 16;
const size_t MAX_LINE = 32768;

HANDLE g_out;

void print_code(const char *what, uint32_t code)
{
    char hex[11];
    format_hex32(code, hex);
    write_text(g_out, what);
    write_text(g_out, hex);
    write_text(g_out, "\n");
}

// Starts the command line (CreateProcessW may write into it); the process
// handle, or null after printing why.
HANDLE start(const wchar_t *command)
{
    static wchar_t line[MAX_LINE];
    wcsncpy(line, command, MAX_LINE - 1);
    line[MAX_LINE - 1] = L'\0';
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(NULL, line, NULL, NULL, /* bInheritHandles */ TRUE, 0, NULL, NULL, &si, &pi)) {
        print_code("start failed ", GetLastError());
        return NULL;
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

bool finish(HANDLE process)
{
    DWORD code = 0;
    const bool ok =
        WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!ok) {
        print_code("wait failed ", GetLastError());
        return false;
    }
    print_code("exit ", code);
    return true;
}

// The file as UTF-16, each line ended by a NUL instead of its line break,
// *units long; null if it cannot be read.
wchar_t *read_lines(const wchar_t *file, size_t *units)
{
    const HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return NULL;
    const DWORD size = GetFileSize(h, NULL);
    char *bytes = static_cast<char *>(malloc(size + 1));
    DWORD got = 0;
    const bool read = bytes && ReadFile(h, bytes, size, &got, NULL) && got == size;
    CloseHandle(h);
    if (!read) return NULL;
    wchar_t *text = static_cast<wchar_t *>(malloc((size + 2) * sizeof(wchar_t)));
    const int n = size == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), text, size);
    free(bytes);
    for (int i = 0; i < n; i++) {
        if (text[i] == L'\n') text[i] = L'\0';
        if (text[i] == L'\r') text[i] = L'\0';
    }
    text[n] = L'\0';
    *units = static_cast<size_t>(n);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    int parallel = 0;
    int at = 1;
    if (argc > 3 && wcscmp(argv[1], L"--parallel") == 0) {
        parallel = _wtoi(argv[2]);
        at = 3;
    }
    if (at + 1 != argc || parallel < 0 || parallel > MAX_PARALLEL) {
        write_text(GetStdHandle(STD_ERROR_HANDLE), "usage: arm64_runner [--parallel N] FILE\n");
        return 2;
    }
    size_t units = 0;
    wchar_t *lines = read_lines(argv[at], &units);
    if (!lines) {
        print_code("cannot read the command file ", GetLastError());
        return 3;
    }
    bool ok = true;
    if (parallel > 0) {
        HANDLE processes[MAX_PARALLEL];
        int started = 0;
        for (; started < parallel; started++) {
            processes[started] = start(lines);
            if (!processes[started]) break;
        }
        ok = started == parallel;
        for (int i = 0; i < started; i++) ok = finish(processes[i]) && ok;
        return ok ? 0 : 3;
    }
    for (size_t i = 0; i < units; i += wcslen(lines + i) + 1) {
        if (!lines[i]) continue;
        const HANDLE process = start(lines + i);
        ok = process && finish(process) && ok;
        if (!process) break;
    }
    return ok ? 0 : 3;
}
