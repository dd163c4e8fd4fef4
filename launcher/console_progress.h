// console_progress.h: the one-line progress indicator a console launcher
// shows on standard error while a first start unpacks (built with --progress).
#ifndef ZOBREL_LAUNCHER_CONSOLE_PROGRESS_H
#define ZOBREL_LAUNCHER_CONSOLE_PROGRESS_H

#include "launcher/launch_context.h"

// Before the unpack writes: when the build asks for progress, the launcher
// is the console one, standard error is a console (GetConsoleMode succeeds:
// never a file or a pipe) and the record index gives the totals, sets the
// context's progress callback, which draws nothing until unpacking has
// taken about half a second, then redraws the line at most ten times a
// second, cut to the console's width. Otherwise leaves the callback null
// and the unpack costs nothing more.
void console_progress_begin(LaunchContext *context);

// After the unpack, whether it succeeded or not: erases the line if one was
// drawn (carriage return, spaces, carriage return), so that what follows,
// the program's output or an error, starts on a clean line; clears the
// callback.
void console_progress_end(LaunchContext *context);

#endif
