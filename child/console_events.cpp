// console_events.cpp: leaves Ctrl+C to the child; ends it on close, logoff and shutdown.
#include "child/console_events.h"

#include "child/child_handle.h"

unsigned long end_child_for_close()
{
    HANDLE child = acquire_child_handle();
    if (child == NULL) {
        return recorded_child_exit_status();
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
    release_child_handle();
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
    if (!child_started_for_event()) {
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
    ExitProcess(end_child_for_close());
}
