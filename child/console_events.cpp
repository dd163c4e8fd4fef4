// console_events.cpp: stops the child on console events.
#include "child/console_events.h"

#include "child/child_handle.h"

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
    HANDLE child = acquire_child_handle();
    if (child != NULL) {
        // The child shares our console and got the event too: it may end by itself.
        if (WaitForSingleObject(child, CHILD_GRACE_MILLISECONDS) != WAIT_OBJECT_0) {
            TerminateProcess(child, 0);
        }
        release_child_handle();
    }
    return FALSE;
}
