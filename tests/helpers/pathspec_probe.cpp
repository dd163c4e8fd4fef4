// pathspec_probe.cpp: runs one path-specification operation, chosen by
// argv[1], so tests can watch from outside the cases that end the process.
// Nothing is printed before the operation: a process that ends inside it
// leaves both streams empty. Results are printed as UTF-8 lines.
//
//   expand SPEC CAPACITY      expand_path_spec; prints the result (0 or 1), then the text
//   prepare                   prepare_run_environment; prints the four pins, then {PID}
//   getenv NAME               get_env_var; prints the value's length, or "null"
//   full_path PATH CAPACITY   make_full_path; prints the absolute path
//   narrow TEXT CAPACITY      append_narrow_string to "ab"; prints the text
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "example_build_info.h"
#include "pathspec/environment.h"
#include "pathspec/expand.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"

static void print_line(const std::wstring &text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, NULL, NULL);
    }
    fwrite(out.data(), 1, out.size(), stdout);
    fputc('\n', stdout);
}

static std::string narrow_ascii(const wchar_t *text)
{
    std::string out;
    for (const wchar_t *p = text; *p; p++) out.push_back(static_cast<char>(*p));
    return out;
}

static std::wstring widen_ascii(const char *text)
{
    std::wstring out;
    for (const char *p = text; *p; p++) out.push_back(static_cast<wchar_t>(*p));
    return out;
}

static void print_pin(const char *name)
{
    wchar_t *value = get_env_var(name);
    print_line(widen_ascii(name) + (value != NULL ? L"=" + std::wstring(value) : L" unset"));
    free(value);
}

// The example build's context, as the launcher's would be before its stages.
static LaunchShared g_launch;

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) return 100;
    init_example_launch(&g_launch, argv[0]);
    std::wstring op = argv[1];
    size_t capacity = argc > 3 ? wcstoul(argv[3], NULL, 0) : 0;

    if (op == L"expand" && argc > 3) {
        std::vector<wchar_t> output(capacity + 1, L'#');
        bool ok = expand_path_spec(&g_launch, output.data(), argv[2], capacity);
        print_line(ok ? L"1" : L"0");
        print_line(output.data());
        return 0;
    }
    if (op == L"prepare") {
        prepare_run_environment();
        print_pin("ZOBREL_ONEFILE_PARENT");
        print_pin("ZOBREL_ONEFILE_START");
        print_pin("ZOBREL_ONEFILE_TIME_US");
        print_pin("ZOBREL_ONEFILE_RANDOM");
        wchar_t pid[64];
        print_line(expand_path_spec(&g_launch, pid, L"{PID}", 64) ? pid : L"failed");
        return 0;
    }
    if (op == L"getenv" && argc > 2) {
        std::string name = narrow_ascii(argv[2]);
        wchar_t *value = get_env_var(name.c_str());
        print_line(value != NULL ? std::to_wstring(wcslen(value)) : L"null");
        free(value);
        return 0;
    }
    if (op == L"full_path" && argc > 3) {
        std::vector<wchar_t> buffer(capacity + wcslen(argv[2]) + 1, L'\0');
        wcscpy(buffer.data(), argv[2]);
        make_full_path(buffer.data(), capacity);
        print_line(buffer.data());
        return 0;
    }
    if (op == L"narrow" && argc > 3) {
        std::vector<wchar_t> buffer(capacity + 16, L'\0');
        wcscpy(buffer.data(), L"ab");
        append_narrow_string(buffer.data(), narrow_ascii(argv[2]).c_str(), capacity);
        print_line(buffer.data());
        return 0;
    }
    return 101;
}
