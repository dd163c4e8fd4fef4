// console_events.h: what the launcher does with console control events.
#ifndef ZOBREL_CHILD_CONSOLE_EVENTS_H
#define ZOBREL_CHILD_CONSOLE_EVENTS_H

#include <windows.h>

#include "child/child_state.h"
#include "common/stage_result.h"

// Milliseconds a running child gets to end by itself after a close, logoff
// or shutdown event.
static const DWORD CHILD_GRACE_MILLISECONDS = 5000;

// The exit code of a child that the launcher ends: the platform's own status
// for a console interruption, never 0.
static const DWORD CHILD_INTERRUPTED_STATUS = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Makes console_event_handler act for this child (the child stage's ChildState,
// which must outlive every event), then registers it with the platform.
// FAILURE_SIGNAL_HANDLER when the platform refuses the registration.
StageResult register_console_handler(ChildState *child);

// Makes console_event_handler act for this child without registering it:
// for tests that call the handler themselves.
void watch_child_for_console_events(ChildState *child);

// Runs on a thread of the platform's, once per event.
// - Events other than Ctrl+C, Ctrl+Break, close, logoff and shutdown: FALSE
//   at once, nothing touched.
// - No child yet (unpacking), or no child watched: FALSE, so the platform's
//   default handling ends the launcher; no child is started after that.
// - An event while the child is being created: waits until it is published;
//   a child that had not been let run yet is ended without ever running.
// - Ctrl+C and Ctrl+Break with a child: TRUE at once. The child shares the
//   console and gets the event itself; the launcher keeps waiting for it and
//   exits with its exit code.
// - Close, logoff and shutdown with a child: end_child_for_close, then the
//   launcher process ends here with the child's exit status.
BOOL WINAPI console_event_handler(DWORD event);

// Waits up to CHILD_GRACE_MILLISECONDS for the published child to end, then
// terminates it with CHILD_INTERRUPTED_STATUS, and returns its exit status:
// its own 32 bits, 1 when they cannot be read, CHILD_INTERRUPTED_STATUS when
// it is still going after a second grace period. When the main thread has
// already let go of the child, returns the status it recorded.
unsigned long end_child_for_close(ChildState *child);

#endif
