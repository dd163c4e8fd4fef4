// diagnostics.cpp: prints zobrel-pack's warnings and errors.
#include "base/diagnostics.h"

#include <cstdio>

namespace zobrel {

void print_diagnostic(Diagnostic kind, const std::string &text)
{
    if (kind == Diagnostic::finding) {
        std::fprintf(stderr, "zobrel-pack: %s\n", text.c_str());
    } else if (kind == Diagnostic::warning) {
        std::fprintf(stderr, "zobrel-pack: warning: %s\n", text.c_str());
    } else {
        for (size_t at = 0; at <= text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::fprintf(stderr, "zobrel-pack: error: %s\n", text.substr(at, end - at).c_str());
            at = end + 1;
        }
    }
}

void print_diagnostics(Diagnostic kind, const std::vector<std::string> &texts)
{
    for (const std::string &text : texts) print_diagnostic(kind, text);
}

}  // namespace zobrel
