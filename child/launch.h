// launch.h: starts the main binary as a child in the launcher's console,
// waits for it and passes on its exit code.
#ifndef ZOBREL_CHILD_LAUNCH_H
#define ZOBREL_CHILD_LAUNCH_H

#include <windows.h>

// Units of the launcher path and directory buffers, one more than a wide path buffer.
static const size_t LAUNCHER_PATH_CAPACITY = 4097;

// Publishes ZOBREL_ONEFILE_DIRECTORY (the launcher's folder, no trailing
// backslash) and ZOBREL_ORIGINAL_ARGV0 (argv0 unchanged), then starts
// g_main_binary_path with the child's command line, the launcher's standard
// handles, environment and current directory, and waits for it without limit.
// Returns its exit code, all 32 bits; 1 when it cannot be read. A child that
// a console event ended before it could run returns 0xC000013A, its own code.
// "Error, couldn't launch child" with the system error, exit status 2, when
// the child cannot be created or let run; abnormal termination when the
// launcher's own path cannot be had whole. When a console event has already
// ended the run, starts nothing and ends the process with 0xC000013A.
unsigned long launch_child(const wchar_t *argv0);

// For tests: when set, launch_child calls it on the main thread after the
// child is created and before its handle is published, so that a test can
// hold the launch there. Null in the launcher.
extern void (*g_launch_window_hook)();

#endif
