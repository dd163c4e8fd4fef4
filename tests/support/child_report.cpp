// child_report.cpp: reads report_child's report back.
#include "child_report.h"

namespace {

std::wstring unhex_units(const std::string &hex)
{
    std::wstring out;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
        out.push_back(static_cast<wchar_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
    }
    return out;
}

std::string unhex_bytes(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 2 <= hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

}  // namespace

Report parse_report(const std::string &text)
{
    Report r;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("env.", 0) == 0 && !line.empty() && line.back() == '!') {
            r.env[line.substr(4, line.size() - 5)] = std::nullopt;
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "raw") {
            r.present = true;
            r.raw = unhex_units(value);
        } else if (key == "arg") {
            r.args.push_back(unhex_units(value));
        } else if (key == "crt") {
            r.crt.push_back(unhex_units(value));
        } else if (key.rfind("env.", 0) == 0) {
            r.env[key.substr(4)] = unhex_units(value);
        } else if (key == "cwd") {
            r.cwd = unhex_units(value);
        } else if (key == "pid") {
            r.pid = std::stoul(value);
        } else if (key == "ppid") {
            r.ppid = std::stoul(value);
        } else if (key == "stdin") {
            r.stdin_bytes = unhex_bytes(value);
        }
    }
    return r;
}
