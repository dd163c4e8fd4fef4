// side_by_side.cpp: times whole command lines against each other in one
// process, taking turns, so that every one sees the same load.
//
//   side_by_side REPS [--clean DIR] NAME COMMAND_LINE [[--clean DIR] NAME COMMAND_LINE ...]
//
// Each repetition runs every command once, starting at a different one each
// time, and waits for it: the wall time from CreateProcess to its end, and
// its peak private memory, sampled every millisecond (Wine's
// PeakPagefileUsage is the current usage, not a peak). "--clean DIR" before
// a command removes that folder tree, untimed, before each of its runs (a
// cold start). The commands' standard output goes to NUL. A command that
// fails to start or exits non-zero ends the benchmark (exit 1). Prints, per
// command, min/median/max seconds and the peak memory, and the first
// command's time divided by each other's in the same repetition: min,
// median and max.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

struct Timed {
    double seconds;
    unsigned long long peak_private;
};

void remove_tree(const std::wstring &dir)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

bool run(const std::wstring &command_line, Timed *timed)
{
    std::wstring line = command_line;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE null_out = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, NULL);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = null_out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    double start = now_seconds();
    if (!CreateProcessW(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "side_by_side: cannot start %ls (error %lu)\n", command_line.c_str(), GetLastError());
        CloseHandle(null_out);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(null_out);
    unsigned long long peak = 0;
    while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
            peak = std::max<unsigned long long>(peak, counters.PagefileUsage);
        }
    }
    timed->seconds = now_seconds() - start;
    timed->peak_private = peak;
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (code != 0) {
        fprintf(stderr, "side_by_side: %ls exited with 0x%08lx\n", command_line.c_str(), code);
        return false;
    }
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void print_spread(const char *what, const std::vector<double> &v, const char *unit)
{
    printf("%s  min %.4f%s  median %.4f%s  max %.4f%s\n", what, *std::min_element(v.begin(), v.end()), unit,
           median(v), unit, *std::max_element(v.begin(), v.end()), unit);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    int reps = argc > 1 ? _wtoi(argv[1]) : 0;
    if (reps < 1) reps = 1;
    std::vector<std::wstring> names, lines, cleans;
    std::wstring clean;
    for (int i = 2; i < argc; i++) {
        if (std::wstring(argv[i]) == L"--clean" && i + 1 < argc) {
            clean = argv[++i];
        } else if (i + 1 < argc) {
            names.push_back(argv[i]);
            lines.push_back(argv[++i]);
            cleans.push_back(clean);
            clean.clear();
        } else {
            names.clear();
            break;
        }
    }
    if (names.empty()) {
        fprintf(stderr, "usage: side_by_side REPS [--clean DIR] NAME COMMAND_LINE [...]\n");
        return 2;
    }
    const size_t n = names.size();
    std::vector<std::vector<double>> seconds(n), ratios(n);
    std::vector<unsigned long long> peaks(n);
    for (int r = 0; r < reps; r++) {
        std::vector<Timed> round(n);
        for (size_t k = 0; k < n; k++) {
            size_t i = (k + static_cast<size_t>(r)) % n;
            if (!cleans[i].empty()) remove_tree(cleans[i]);
            if (!run(lines[i], &round[i])) return 1;
        }
        for (size_t i = 0; i < n; i++) {
            seconds[i].push_back(round[i].seconds);
            ratios[i].push_back(round[0].seconds / round[i].seconds);
            peaks[i] = std::max(peaks[i], round[i].peak_private);
        }
    }
    for (size_t i = 0; i < n; i++) {
        std::string label = "time " + std::string(names[i].begin(), names[i].end());
        print_spread(label.c_str(), seconds[i], " s");
        printf("peak private memory %ls  %.1f MiB\n", names[i].c_str(), peaks[i] / 1048576.0);
    }
    for (size_t i = 1; i < n; i++) {
        std::string label = "ratio " + std::string(names[0].begin(), names[0].end()) + " / " +
                            std::string(names[i].begin(), names[i].end());
        print_spread(label.c_str(), ratios[i], "");
    }
    return 0;
}
