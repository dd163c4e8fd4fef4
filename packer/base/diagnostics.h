// diagnostics.h: the one place zobrel-pack's findings reach standard error,
// each line starting with the program's name and what kind of finding it is.
#ifndef ZOBREL_PACKER_BASE_DIAGNOSTICS_H
#define ZOBREL_PACKER_BASE_DIAGNOSTICS_H

#include <string>
#include <vector>

namespace zobrel {

enum class Diagnostic {
    // A finding that says what it is itself (verify's problems): "zobrel-pack: TEXT".
    finding,
    // "zobrel-pack: warning: TEXT": the command goes on.
    warning,
    // "zobrel-pack: error: TEXT", a line of its own for each line of the
    // text: the command stops.
    error,
};

void print_diagnostic(Diagnostic kind, const std::string &text);

// Each text in turn, as that kind.
void print_diagnostics(Diagnostic kind, const std::vector<std::string> &texts);

}  // namespace zobrel

#endif
