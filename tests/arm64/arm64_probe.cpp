// arm64_probe.cpp: an ARM64 console program that reports what it received and
// exits with the code it is told, for the tests under ARM64 Wine.
//
//   arm64_probe [ARGUMENT...]
//
// Prints, one per line, in UTF-8: "raw=" and its whole command line as the
// system gave it, "arg=" and each argument after the program name as the C
// runtime split it, "env.NAME=VALUE" for each variable whose name begins
// with ZOBREL_ or PROBE_, and "dir=" and its own folder. An argument
// "--exit=HEX" sets its exit code (0 by default), all 32 bits; "--silent"
// prints nothing.
#include <windows.h>
#include <wchar.h>

#include "test_output.h"

namespace {

void line(HANDLE out, const char *key, const wchar_t *value)
{
    write_text(out, key);
    write_wide(out, value, wcslen(value));
    write_text(out, "\n");
}

bool reported_variable(const wchar_t *entry)
{
    return wcsncmp(entry, L"ZOBREL_", 7) == 0 || wcsncmp(entry, L"PROBE_", 6) == 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    uint32_t code = 0;
    bool silent = false;
    for (int i = 1; i < argc; i++) {
        parse_exit_argument(argv[i], &code);
        silent = silent || wcscmp(argv[i], L"--silent") == 0;
    }
    if (silent) return static_cast<int>(code);

    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    line(out, "raw=", GetCommandLineW());
    for (int i = 1; i < argc; i++) line(out, "arg=", argv[i]);
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *entry = block; block && *entry; entry += wcslen(entry) + 1) {
        if (reported_variable(entry)) line(out, "env.", entry);
    }
    if (block) FreeEnvironmentStringsW(block);
    static wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(NULL, path, 32768);
    if (n > 0 && n < 32768) {
        wchar_t *slash = wcsrchr(path, L'\\');
        if (slash) *slash = L'\0';
        line(out, "dir=", path);
    }
    return static_cast<int>(code);
}
