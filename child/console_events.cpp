// console_events.cpp: leaves Ctrl+C to the child; ends it on close, logoff and shutdown.
#include "child/console_events.h"

#include "child/child_handle.h"

// The child the handler acts for. The handler runs on a thread of the
// platform's, which cannot be handed the child stage, so it keeps this
// one pointer, set before the handler is registered.
static ChildState *g_watched_child;

unsigned long end_child_for_close(ChildState *child_state)
{
    HANDLE child = acquire_child_handle(child_state);
    if (child == NULL) {
        return recorded_child_exit_status(child_state);
    }
    unsigned long status = CHILD_INTERRUPTED_STATUS;
    // The child got the same event through the shared console: it may end by itself.
    DWORD waited = WaitForSingleObject(child, CHILD_GRACE_MILLISECONDS);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(child, CHILD_INTERRUPTED_STATUS);
        // Termination completes asynchronously; its code is only final once
        // the process is signalled.
        waited = WaitForSingleObject(child, CHILD_GRACE_MILLISECONDS);
    }
    if (waited == WAIT_OBJECT_0) {
        DWORD code = 0;
        status = GetExitCodeProcess(child, &code) ? code : 1;
    }
    release_child_handle(child_state);
    return status;
}

BOOL WINAPI console_event_handler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (g_watched_child == NULL || !child_started_for_event(g_watched_child)) {
        // Not handled: the default handling ends the launcher.
        return FALSE;
    }
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // Handled, so the launcher stays: the child decides what the event
        // means, and its end is the launcher's.
        return TRUE;
    }
    // The platform ends a process soon after its close handler returns, with
    // a status of its own. Ending it here, once the child is gone, makes the
    // status the child's; the main thread would exit with the same value.
    ExitProcess(end_child_for_close(g_watched_child));
}

void watch_child_for_console_events(ChildState *child)
{
    g_watched_child = child;
}

StageResult register_console_handler(ChildState *child)
{
    watch_child_for_console_events(child);
    if (!SetConsoleCtrlHandler(console_event_handler, TRUE)) {
        return stage_failed(FAILURE_SIGNAL_HANDLER);
    }
    return stage_succeeded();
}
