// interactive_desktop.h: whether a window the launcher shows can be seen by
// anyone, so that it never waits on one that cannot.
#ifndef ZOBREL_LAUNCHER_WINDOWED_INTERACTIVE_DESKTOP_H
#define ZOBREL_LAUNCHER_WINDOWED_INTERACTIVE_DESKTOP_H

// True when the process's window station is the interactive one
// (WSF_VISIBLE): windows on it reach a user's screen. False for a service,
// a scheduled task that runs whether a user is logged on or not, a CI agent
// run as a service (all in a window station of their own, which nobody
// sees: a message box there would wait for ever), and when user32 or the
// window station cannot be had.
bool desktop_is_interactive();

#endif
