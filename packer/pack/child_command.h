// child_command.h: the fixed arguments and environment variables a build
// gives its main program (--arg, --env), checked as the launcher will use
// them.
#ifndef ZOBREL_PACKER_PACK_CHILD_COMMAND_H
#define ZOBREL_PACKER_PACK_CHILD_COMMAND_H

#include <string>
#include <vector>

#include "build_constants_writer.h"
#include "pack/spec_check.h"

namespace zobrel {

// What the launcher gives the main program besides the user's command line,
// unexpanded: fixed leading arguments, and environment variables to set (an
// empty value removes one), in order.
struct ChildCommand {
    std::vector<std::u16string> arguments;
    std::vector<EnvironmentEntry> environment;
};

// What a first start shows while it unpacks: nothing, or its progress with
// an optional message (unexpanded path-specification text).
struct ProgressDisplay {
    bool shown = false;
    std::u16string message;
};

// The options' values (UTF-8, in the order given) as the build stores them.
// Each --arg, and each --env's value, must be valid UTF-8 whose placeholders
// the launcher can expand (spec_problem for commands: the target
// specification's keys and {UNPACK_DIR}); each --env must be NAME=VALUE,
// split at its first '=', with a name that passes the environment-name rule
// (environment_name.h), no name given twice (compared without regard to
// ASCII letter case, as Windows does). Throws UsageError naming the option
// and the text at fault.
ChildCommand parse_child_command(const std::vector<std::string> &arguments,
                                 const std::vector<std::string> &environment);

// What a first start shows (--progress, --progress-message). The message
// must be valid UTF-8 of at most PROGRESS_MESSAGE_LIMIT UTF-16 units whose
// placeholders the launcher can expand, as --arg's, and needs --progress.
// Throws UsageError naming the option and the text at fault.
ProgressDisplay parse_progress(bool shown, const std::string &message);

// Throws UsageError, naming the option, when the fixed arguments could not
// fit a Windows command line (32,767 units) on any machine, each expanded
// at its shortest (shortest_expansion) and quoted, after the shortest
// launcher path; or when an environment value could not fit the 32,767
// units a variable holds.
void check_child_command_fits(const ChildCommand &command, const ProductValues &values,
                              const std::u16string &target_spec);

}  // namespace zobrel

#endif
