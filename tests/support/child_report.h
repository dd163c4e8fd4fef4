// child_report.h: what report_child (tests/helpers/report_child.cpp) wrote
// about how it was started, read back.
#ifndef ZOBREL_TESTS_SUPPORT_CHILD_REPORT_H
#define ZOBREL_TESTS_SUPPORT_CHILD_REPORT_H

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct Report {
    bool present = false;            // a report was written at all
    std::wstring raw;                // GetCommandLineW()
    std::vector<std::wstring> args;  // as CommandLineToArgvW split it
    std::vector<std::wstring> crt;   // as the C runtime split it
    // The reported variables; nullopt for one that was unset.
    std::map<std::string, std::optional<std::wstring>> env;
    std::wstring cwd;
    DWORD pid = 0;
    DWORD ppid = 0;
    std::optional<std::string> stdin_bytes;
};

// The report's lines read back; lines it does not know are skipped.
Report parse_report(const std::string &text);

#endif
