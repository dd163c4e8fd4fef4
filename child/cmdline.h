// cmdline.h: the command line handed to the child: the launcher's own, as
// typed, with the program name replaced by the launcher's full path.
#ifndef ZOBREL_CHILD_CMDLINE_H
#define ZOBREL_CHILD_CMDLINE_H

#include "common/launch_context.h"

// Rebuilds the command line from scratch into the context's command-line
// buffer (COMMAND_LINE_CAPACITY units, writable, as long as the context) and
// returns it: the launcher's own path (the context's process facts), then
// everything of GetCommandLineW after its program name, copied unit for unit
// (leading whitespace, quotes, backslashes and empty arguments as they are).
// The program name is found as the platform finds argument 0: a quoted run
// up to and including its closing quote (or the end of the line), otherwise
// everything up to the first space or tab. The path is written between
// double quotes when it holds a space, tab, line feed, vertical tab or double
// quote, or when the rest of the line follows without a space or tab (after
// a quoted name), so that the child splits the rest into the same arguments
// as the launcher would. Ends the process abnormally when the launcher's path
// was not had whole or the result exceeds 32,767 units; nothing is truncated.
wchar_t *build_child_command_line(LaunchContext *context);

#endif
