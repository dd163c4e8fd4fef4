// console_events.h: what the launcher does with console control events.
#ifndef ZOBREL_CHILD_CONSOLE_EVENTS_H
#define ZOBREL_CHILD_CONSOLE_EVENTS_H

#include <windows.h>

// Milliseconds a running child gets to end by itself after an event.
static const DWORD CHILD_GRACE_MILLISECONDS = 5000;

// For Ctrl+C, Ctrl+Break, close, logoff and shutdown: gives a running child
// up to 5 seconds to end, then terminates it with exit code 0. Always returns
// FALSE, so the platform's default handling then ends the launcher. Runs on
// a thread of the platform's; touches nothing but the child's handle.
BOOL WINAPI console_event_handler(DWORD event);

#endif
