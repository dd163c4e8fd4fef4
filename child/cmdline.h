// cmdline.h: the command line handed to the child: the launcher's own, as
// typed, with the program name replaced by the launcher's full path and the
// build's fixed arguments after it.
#ifndef ZOBREL_CHILD_CMDLINE_H
#define ZOBREL_CHILD_CMDLINE_H

#include "child/child_state.h"
#include "common/launch_shared.h"
#include "common/stage_result.h"

// Builds the command line from scratch into the child stage's command-line
// buffer (COMMAND_LINE_CAPACITY units, writable, as long as the stage):
// - the launcher's own path (the launch's process facts), between double
//   quotes when it holds a space, tab, line feed, vertical tab or double
//   quote, or when the rest of the line follows it without a space or tab
//   (after a quoted name) and no fixed argument comes between them;
// - each of the build's fixed arguments, in order, after a space: expanded
//   (expand_command_text, so the unpack directory must have been chosen)
//   and written by the quoting rule (argument_quoting.h), so that the
//   platform's splitting and the C runtime's give each back exactly;
// - everything of GetCommandLineW after its program name, copied unit for
//   unit (leading whitespace, quotes, backslashes and empty arguments as
//   they are), after a space of its own when fixed arguments precede it and
//   it begins with neither a space nor a tab.
// The program name is found as the platform finds argument 0: a quoted run
// up to and including its closing quote (or the end of the line), otherwise
// everything up to the first space or tab.
//
// Failures, with nothing started: FAILURE_LAUNCH with ERROR_FILENAME_EXCED_RANGE
// (the platform's own code for a line too long) when a build with fixed
// arguments would give a line of more than 32,767 units; FAILURE_EXPAND,
// with the argument as built, when one cannot be expanded. A build without
// fixed arguments whose line exceeds 32,767 units ends the process
// abnormally, as it always has; so does a launcher path not had whole.
// Nothing is ever truncated.
StageResult build_child_command_line(const LaunchShared *launch, ChildStage *child);

#endif
