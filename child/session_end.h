// session_end.h: what the windowed launcher does around its child in place
// of console events, which a program of the Windows subsystem never gets.
//
// - A hidden top-level window hears the session's end (logoff, shutdown,
//   restart). WM_QUERYENDSESSION is answered yes: whether the session may
//   end is the application's own question, asked of its own windows. On
//   WM_ENDSESSION the child (which gets its own) has CHILD_GRACE_MILLISECONDS
//   to end by itself, is then terminated with CHILD_INTERRUPTED_STATUS, and
//   the launcher ends with the child's exit status, as on a console close.
//   WM_CLOSE (asked of the launcher, as taskkill without /f does) is passed on
//   to the child's visible top-level windows; the launcher goes on waiting.
// - The child may take the foreground, so that its first window comes to the
//   front as it would had the user started it directly.
//
// Both launchers also tie the child to themselves with a job
// (child/child_job.h).
//
// All of it is best effort: without user32 or a window, the child still
// starts and the launcher still waits for it; what is missing is only the
// answer to the session's end.
#ifndef ZOBREL_CHILD_SESSION_END_H
#define ZOBREL_CHILD_SESSION_END_H

#include <windows.h>

#include "child/child_state.h"
#include "common/launch_shared.h"

// The window's class name, by which tests find it among the launcher's windows.
#define SESSION_WINDOW_CLASS L"zobrel-onefile-session"

// Before the child is created: makes the hidden window, titled with the
// product name. No message is handled until
// wait_answering_session_end: a session that ends before the child runs
// ends the launcher as it ends any program that does not answer.
void watch_session_end(const LaunchShared *launch, ChildStage *child);

// With the child created suspended, before it runs: lets it take the
// foreground, since its first window could otherwise be made before it had
// the right to come to the front.
void tie_child_to_launcher(ChildStage *child, const PROCESS_INFORMATION &process);

// Waits for the child to end while the window answers its messages; a plain
// wait when there is no window.
void wait_answering_session_end(ChildStage *child, HANDLE process);

#endif
