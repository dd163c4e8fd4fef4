// progress_window.h: the small window a windowed launcher shows while a
// first start unpacks (built with --progress), in the middle of the screen:
// a bordered box without a caption, as a splash screen is, showing the
// product name, the --progress-message text, a bar, and the megabytes and
// files done of the total (files kept count as done). Its window text is
// the product name too.
//
// It shows only once unpacking has taken about half a second, is redrawn at
// most ten times a second (its messages are handled then, on the unpacking
// thread), and never takes the focus: it is never activated, so the
// program's first window, which may take the foreground, keeps it. It has
// nothing to close it with; a close asked of it is ignored, the start goes
// on. No window where none could be seen (a window station that is not the
// interactive one) or where the launcher was started hidden or minimized;
// where user32 cannot be had or the window cannot be made, the unpack simply
// goes on without it.
#ifndef ZOBREL_LAUNCHER_WINDOWED_PROGRESS_WINDOW_H
#define ZOBREL_LAUNCHER_WINDOWED_PROGRESS_WINDOW_H

#include "launcher/launch_context.h"

// The window's class name, by which tests find it among the launcher's windows.
#define PROGRESS_WINDOW_CLASS L"zobrel-onefile-progress"

// Before the unpack writes: when the build asks for progress, the launcher
// is the windowed one and the record index gives the totals, sets the
// context's progress callback (which makes the window when it is first
// due). Otherwise leaves the callback null and the unpack costs nothing more.
void progress_window_begin(LaunchContext *context);

// After the unpack, whether it succeeded or not, before anything else is
// shown or started: destroys the window if one was made; clears the callback.
void progress_window_end(LaunchContext *context);

#endif
