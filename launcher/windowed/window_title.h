// window_title.h: the title of the windowed launcher's own windows.
#ifndef ZOBREL_LAUNCHER_WINDOWED_WINDOW_TITLE_H
#define ZOBREL_LAUNCHER_WINDOWED_WINDOW_TITLE_H

#include <stddef.h>

#include "launcher/launch_context.h"

// The product name of the build constants, or, when there is none or they
// could not be read, the launcher's file name without ".exe". Ends the
// process if it does not fit the capacity (LAUNCHER_PATH_CAPACITY always does).
void window_title(const LaunchContext *context, wchar_t *title, size_t capacity);

#endif
