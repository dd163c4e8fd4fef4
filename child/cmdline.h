// cmdline.h: the command line handed to the child: the launcher's own
// arguments, the first replaced by the launcher's full path.
#ifndef ZOBREL_CHILD_CMDLINE_H
#define ZOBREL_CHILD_CMDLINE_H

#include <stddef.h>

// Units of the command-line buffer: at most 32,767 units of text and a NUL.
static const size_t COMMAND_LINE_CAPACITY = 32768;

// Rebuilds the command line from scratch into g_command_line and returns it:
// GetCommandLineW split by CommandLineToArgvW, the first argument replaced by
// the launcher's own path, arguments joined by single spaces and quoted where
// they hold a space, tab, line feed, vertical tab or double quote. Ends the
// process abnormally when the line cannot be split, the launcher's path
// cannot be had whole, or the result exceeds 32,767 units.
wchar_t *build_child_command_line();

// Appends one argument at *length in its command-line form: unchanged, or
// quoted with the backslash rules of the platform's argument splitting.
// Ends the process abnormally if it does not fit the capacity.
void append_command_line_argument(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *argument);

#endif
