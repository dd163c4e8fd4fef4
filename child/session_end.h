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
// - A job object that ends the child when its last handle closes, which is
//   when the launcher ends, however it ends: a launcher that is terminated
//   takes the child with it. Only the child is in the job: what it starts is
//   not (silent breakaway), so programs it starts to outlive it still do.
// - The child may take the foreground, so that its first window comes to the
//   front as it would had the user started it directly.
//
// All of it is best effort: without user32, a window or a job (a system
// that refuses a job inside the one the launcher runs in), the child still
// starts and the launcher still waits for it; what is missing is only the
// answer to the session's end, or the child's end with a killed launcher.
#ifndef ZOBREL_CHILD_SESSION_END_H
#define ZOBREL_CHILD_SESSION_END_H

#include <windows.h>

#include "common/launch_context.h"

// The window's class name, by which tests find it among the launcher's windows.
#define SESSION_WINDOW_CLASS L"zobrel-onefile-session"

// Before the child is created: makes the hidden window, titled with the
// product name, and the job. No message is handled until
// wait_answering_session_end: a session that ends before the child runs
// ends the launcher as it ends any program that does not answer.
void watch_session_end(LaunchContext *context);

// With the child created suspended, before it runs: puts it into the job
// and lets it take the foreground. Both must come before it runs: a process
// it started meanwhile would escape the job, and its first window could be
// made before it had the right to come to the front.
void tie_child_to_launcher(LaunchContext *context, const PROCESS_INFORMATION &process);

// Waits for the child to end while the window answers its messages; a plain
// wait when there is no window.
void wait_answering_session_end(LaunchContext *context, HANDLE process);

#endif
