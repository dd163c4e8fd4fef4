// fatal_probe.cpp: calls one fatal-report operation, chosen by argv[1], so
// tests can watch its streams and exit code from outside.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "common/fatal.h"
#include "common/platform.h"

static std::string narrow_ascii(const wchar_t *text)
{
    std::string out;
    for (const wchar_t *p = text; *p; p++) out.push_back(static_cast<char>(*p));
    return out;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) return 100;
    std::wstring op = argv[1];
    std::string arg = argc > 2 ? narrow_ascii(argv[2]) : "";
    unsigned long code = argc > 3 ? wcstoul(argv[3], NULL, 0) : 0;
    // Buffered output before the report shows whether the end flushes it.
    if (_wgetenv(L"PROBE_PRELUDE") != NULL) fputs("prelude\n", stdout);
    if (op == L"error") fatal_error(arg.c_str());
    if (op == L"with_code") fatal_error_with_code(arg.c_str(), code);
    if (op == L"print_with_code") {
        print_error_with_code(arg.c_str(), code);
        return 0;
    }
    if (op == L"open") fatal_open_error(argv[2]);
    if (op == L"expand") fatal_expand_error(argv[2]);
    if (op == L"decode") fatal_decode_error();
    if (op == L"header") fatal_header_error();
    if (op == L"memory") fatal_memory_error();
    if (op == L"write") {
        SetLastError(wcstoul(argv[2], NULL, 0));
        fatal_write_error();
    }
    if (op == L"abort") terminate_abnormally();
    return 101;
}
