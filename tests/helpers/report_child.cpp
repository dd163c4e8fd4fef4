// report_child.cpp: a child program that reports how it was started, so
// tests can see what the launcher handed on.
//
// Report lines are "key=value", one per line, "\n"-terminated. Text values
// are hex: four hex digits per UTF-16 unit (stdin: two per byte), so tabs,
// line feeds and quotes survive. An unset variable is written "env.NAME!".
//   raw=<hex>          GetCommandLineW()
//   argc=<n>           the count CommandLineToArgvW gives
//   arg=<hex>          each argument, in order
//   crt=<hex>          each argument as the C runtime split it (wmain's argv)
//   env.NAME=<hex>     the ZOBREL_ variables, then those REPORT_ALSO names
//   cwd=<hex>          current directory
//   pid=<n>  ppid=<n>  own and parent process id (ppid 0 if not found)
//   stdin=<hex>        all of standard input (only with REPORT_STDIN=1)
//   show=<n>|none      its STARTUPINFO's wShowWindow, or none without
//                      STARTF_USESHOWWINDOW
//   console=<0|1>      whether it has a console
//   handles=<in>,<out>,<err>  what each standard handle is: null, invalid,
//                      disk, char, pipe or unknown
// One line goes to standard error: "report child: stderr line\n".
//
// Built twice: report_child.exe for the console subsystem and
// report_child_windowed.exe for the Windows (GUI) one.
//
// Behaviour is chosen through the environment, never through arguments (the
// arguments are what is being reported):
//   REPORT_OUT=path        write the report there instead of standard output
//   REPORT_ALSO=A,B        report these variables too, after the ZOBREL_ ones
//   REPORT_EXIT=n          exit code, unsigned 32-bit, "0x" hex allowed
//   REPORT_STDIN=1         read standard input to its end and report it
//   REPORT_SLEEP_MS=n      keep running this long before exiting
//   REPORT_HEARTBEAT=path  while running, rewrite this file every 100 ms
//                          with a growing counter
//   REPORT_CTRL_C=ignore   Ctrl+C/Ctrl+Break are handled (TRUE) and ignored;
//                          close, logoff and shutdown are never returned from
//   REPORT_CTRL_C=end      on Ctrl+C/Ctrl+Break: wait 500 ms, write
//                          "ended\n" to REPORT_MARKER, exit with
//                          REPORT_CTRL_C_EXIT (default 0x2A)
//   REPORT_MARKER=path     "ignored\n" is appended there for each ignored
//                          Ctrl+C/Ctrl+Break, "ignored close\n" for the others
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

const wchar_t *const VARIABLES[] = {
    L"ZOBREL_ONEFILE_PARENT",           L"ZOBREL_ONEFILE_DIRECTORY",
    L"ZOBREL_ORIGINAL_ARGV0",           L"ZOBREL_ONEFILE_START",
    L"ZOBREL_ONEFILE_TIME_US",          L"ZOBREL_ONEFILE_RANDOM",
    L"ZOBREL_ONEFILE_UNPACK_DIRECTORY",
};

std::string hex_units(const std::wstring &text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (wchar_t c : text) {
        unsigned u = static_cast<unsigned short>(c);
        out += digits[(u >> 12) & 15];
        out += digits[(u >> 8) & 15];
        out += digits[(u >> 4) & 15];
        out += digits[u & 15];
    }
    return out;
}

// A variable name for the report's key (ASCII names only are used).
std::string narrow_ascii(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

std::string hex_bytes(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The variable's value, or false when it is unset.
bool get_variable(const wchar_t *name, std::wstring *value)
{
    DWORD needed = GetEnvironmentVariableW(name, NULL, 0);
    if (needed == 0) {
        value->clear();
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    std::wstring buffer(needed, L'\0');
    DWORD n = GetEnvironmentVariableW(name, &buffer[0], needed);
    buffer.resize(n);
    *value = buffer;
    return true;
}

std::wstring option(const wchar_t *name)
{
    std::wstring value;
    get_variable(name, &value);
    return value;
}

unsigned long option_number(const wchar_t *name, unsigned long fallback)
{
    std::wstring text = option(name);
    return text.empty() ? fallback : wcstoul(text.c_str(), NULL, 0);
}

DWORD parent_process_id()
{
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

std::string show_state()
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) return "none";
    return std::to_string(startup.wShowWindow);
}

const char *handle_kind(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == NULL) return "null";
    if (handle == INVALID_HANDLE_VALUE) return "invalid";
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
        return "disk";
    case FILE_TYPE_CHAR:
        return "char";
    case FILE_TYPE_PIPE:
        return "pipe";
    }
    return "unknown";
}

std::string read_all_stdin()
{
    std::string bytes;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(in, buffer, sizeof buffer, &n, NULL) && n > 0) bytes.append(buffer, n);
    return bytes;
}

// Writes the whole file at once (replacing it), shared so a reader never blocks it.
void put_file(const std::wstring &path, const std::string &bytes, bool append)
{
    HANDLE f = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(f);
}

std::wstring g_ctrl_c_mode;
std::wstring g_marker;

BOOL WINAPI on_console_event(DWORD event)
{
    bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (g_ctrl_c_mode == L"end" && interrupt) {
        // Ends by itself, but not at once: a launcher that does not leave the
        // event to the child would cut this short and leave no marker.
        Sleep(500);
        if (!g_marker.empty()) put_file(g_marker, "ended\n", false);
        ExitProcess(option_number(L"REPORT_CTRL_C_EXIT", 0x2A));
    }
    if (g_ctrl_c_mode != L"ignore") return FALSE;
    if (interrupt) {
        if (!g_marker.empty()) put_file(g_marker, "ignored\n", true);
        return TRUE;
    }
    // Close, logoff, shutdown: the process is ended once a handler returns,
    // so ignoring means never returning.
    if (!g_marker.empty()) put_file(g_marker, "ignored close\n", true);
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    g_ctrl_c_mode = option(L"REPORT_CTRL_C");
    g_marker = option(L"REPORT_MARKER");
    if (!g_ctrl_c_mode.empty()) SetConsoleCtrlHandler(on_console_event, TRUE);

    std::string report;
    const wchar_t *raw = GetCommandLineW();
    report += "raw=" + hex_units(raw) + "\n";
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(raw, &count);
    report += "argc=" + std::to_string(count) + "\n";
    for (int i = 0; arguments != NULL && i < count; i++) report += "arg=" + hex_units(arguments[i]) + "\n";
    for (int i = 0; i < argc; i++) report += "crt=" + hex_units(argv[i]) + "\n";
    std::vector<std::wstring> names(VARIABLES, VARIABLES + sizeof VARIABLES / sizeof VARIABLES[0]);
    const std::wstring also = option(L"REPORT_ALSO");
    for (size_t start = 0; start < also.size();) {
        size_t comma = also.find(L',', start);
        if (comma == std::wstring::npos) comma = also.size();
        names.push_back(also.substr(start, comma - start));
        start = comma + 1;
    }
    for (const std::wstring &name : names) {
        std::wstring value;
        report += "env." + narrow_ascii(name);
        report += get_variable(name.c_str(), &value) ? "=" + hex_units(value) + "\n" : "!\n";
    }
    wchar_t cwd[4096];
    DWORD cwd_length = GetCurrentDirectoryW(4096, cwd);
    report += "cwd=" + hex_units(std::wstring(cwd, cwd_length < 4096 ? cwd_length : 0)) + "\n";
    report += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    report += "ppid=" + std::to_string(parent_process_id()) + "\n";
    if (option(L"REPORT_STDIN") == L"1") report += "stdin=" + hex_bytes(read_all_stdin()) + "\n";
    report += "show=" + show_state() + "\n";
    report += std::string("console=") + (GetConsoleWindow() != NULL ? "1" : "0") + "\n";
    report += std::string("handles=") + handle_kind(STD_INPUT_HANDLE) + "," + handle_kind(STD_OUTPUT_HANDLE) +
              "," + handle_kind(STD_ERROR_HANDLE) + "\n";

    std::wstring out_path = option(L"REPORT_OUT");
    if (out_path.empty()) {
        _setmode(_fileno(stdout), _O_BINARY);
        fwrite(report.data(), 1, report.size(), stdout);
        fflush(stdout);
    } else {
        put_file(out_path, report, false);
    }
    fputs("report child: stderr line\n", stderr);
    fflush(stderr);

    unsigned long sleep_ms = option_number(L"REPORT_SLEEP_MS", 0);
    std::wstring heartbeat = option(L"REPORT_HEARTBEAT");
    ULONGLONG end = GetTickCount64() + sleep_ms;
    for (unsigned long beat = 1; GetTickCount64() < end; beat++) {
        if (!heartbeat.empty()) put_file(heartbeat, std::to_string(beat) + "\n", false);
        ULONGLONG now = GetTickCount64();
        Sleep(static_cast<DWORD>(end - now < 100 ? end - now : 100));
    }
    ExitProcess(option_number(L"REPORT_EXIT", 0));
}
