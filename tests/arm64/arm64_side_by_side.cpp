// arm64_side_by_side.cpp: times whole command lines against each other in one
// ARM64 process, taking turns, so that every one sees the same load (the
// ARM64 counterpart of bench/side_by_side, without the C++ library).
//
//   arm64_side_by_side REPS NAME COMMAND_LINE [NAME COMMAND_LINE ...]
//
// Each repetition runs every command once, starting at a different one each
// time, with its standard handles on NUL, and times it from CreateProcess to
// its end. A command that fails to start or exits non-zero ends the run
// (exit 2). Prints, per command, min / median / max seconds, and the first
// command's time divided by each other's in the same repetition: min /
// median / max.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "test_output.h"

namespace {

const int MAX_COMMANDS = 8;
const int MAX_REPS = 1000;

double g_seconds[MAX_COMMANDS][MAX_REPS];

// Seconds from CreateProcess to the end of the process, or a negative value
// when it did not start or did not exit with 0.
double timed_run(const wchar_t *command, HANDLE nul)
{
    static wchar_t line[32768];
    wcsncpy(line, command, 32767);
    line[32767] = L'\0';
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi;
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(NULL, line, NULL, NULL, /* bInheritHandles */ TRUE, 0, NULL, NULL, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (code != 0) return -1;
    return static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int by_value(const void *a, const void *b)
{
    const double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

void print_spread(const char *what, const wchar_t *name, const wchar_t *other, double *values, int n)
{
    qsort(values, static_cast<size_t>(n), sizeof *values, by_value);
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    char text[512];
    snprintf(text, sizeof text, "%s %ls%s%ls  min %.4f  median %.4f  max %.4f\n", what, name,
             other ? " / " : "", other ? other : L"", values[0], median, values[n - 1]);
    write_text(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    const int reps = argc > 1 ? _wtoi(argv[1]) : 0;
    const int n = (argc - 2) / 2;
    if (reps < 1 || reps > MAX_REPS || n < 1 || n > MAX_COMMANDS || argc % 2 != 0) {
        write_text(GetStdHandle(STD_ERROR_HANDLE),
                   "usage: arm64_side_by_side REPS NAME COMMAND_LINE [NAME COMMAND_LINE ...]\n");
        return 2;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, NULL);
    for (int r = 0; r < reps; r++) {
        for (int k = 0; k < n; k++) {
            const int i = (k + r) % n;
            const double seconds = timed_run(argv[3 + 2 * i], nul);
            if (seconds < 0) {
                write_text(GetStdHandle(STD_ERROR_HANDLE), "arm64_side_by_side: a command failed: ");
                write_wide(GetStdHandle(STD_ERROR_HANDLE), argv[3 + 2 * i], wcslen(argv[3 + 2 * i]));
                write_text(GetStdHandle(STD_ERROR_HANDLE), "\n");
                return 2;
            }
            g_seconds[i][r] = seconds;
        }
    }
    static double ratios[MAX_REPS];
    for (int i = 1; i < n; i++) {
        for (int r = 0; r < reps; r++) ratios[r] = g_seconds[0][r] / g_seconds[i][r];
        print_spread("ratio", argv[2], argv[2 + 2 * i], ratios, reps);
    }
    for (int i = 0; i < n; i++) print_spread("time", argv[2 + 2 * i], NULL, g_seconds[i], reps);
    return 0;
}
