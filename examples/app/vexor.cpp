// vexor.cpp: the example application. It loads its own DLL, reads a data
// file next to it, prints its arguments and the variables the launcher set,
// and exits with the code given as "--exit N".
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "greeter.h"

static std::wstring own_directory()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(NULL, path, 4096);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

static std::string read_data_file(const std::wstring &path)
{
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (f == NULL) return "(missing)";
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

static void print_variable(const wchar_t *name)
{
    wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(name, value, 32768);
    wprintf(L"  %ls=%ls\n", name, n > 0 && n < 32768 ? value : L"(unset)");
}

int wmain(int argc, wchar_t **argv)
{
    wprintf(L"%ls\n", greeter_banner());
    wprintf(L"program: %ls\n", own_directory().c_str());
    printf("data: %s\n", read_data_file(own_directory() + L"\\data\\greeting.txt").c_str());
    int exit_code = 0;
    for (int i = 0; i < argc; i++) {
        wprintf(L"argv[%d]: [%ls]\n", i, argv[i]);
        if (wcscmp(argv[i], L"--exit") == 0 && i + 1 < argc) exit_code = _wtoi(argv[i + 1]);
    }
    wprintf(L"environment:\n");
    print_variable(L"ZOBREL_ONEFILE_PARENT");
    print_variable(L"ZOBREL_ONEFILE_DIRECTORY");
    print_variable(L"ZOBREL_ORIGINAL_ARGV0");
    fflush(stdout);
    return exit_code;
}
