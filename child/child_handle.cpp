// child_handle.cpp: the launch state, the use count that lets the child's
// handle be closed once, and the child's exit status, shared across threads.
#include "child/child_handle.h"

#include <windows.h>

enum LaunchState : LONG {
    LAUNCH_IDLE = 0,
    LAUNCH_ENDED,
    LAUNCH_LAUNCHING,
    LAUNCH_INTERRUPTED,
    LAUNCH_RUNNING,
};

static LONG read_launch_state(ChildState *child)
{
    // An interlocked no-op: a full barrier, so what the other side wrote
    // before its own interlocked change is seen with the new state.
    return InterlockedCompareExchange(&child->launch_state, 0, 0);
}

bool begin_child_launch(ChildState *child)
{
    return InterlockedCompareExchange(&child->launch_state, LAUNCH_LAUNCHING, LAUNCH_IDLE) == LAUNCH_IDLE;
}

void abandon_child_launch(ChildState *child)
{
    InterlockedExchange(&child->launch_state, LAUNCH_IDLE);
}

bool let_child_run(ChildState *child)
{
    return InterlockedCompareExchange(&child->launch_state, LAUNCH_RUNNING, LAUNCH_LAUNCHING) ==
           LAUNCH_LAUNCHING;
}

void mark_child_running(ChildState *child)
{
    InterlockedExchange(&child->launch_state, LAUNCH_RUNNING);
}

bool child_started_for_event(ChildState *child)
{
    for (;;) {
        LONG state = read_launch_state(child);
        switch (state) {
        case LAUNCH_IDLE:
            // Claimed before the main thread began a launch: it will start none.
            if (InterlockedCompareExchange(&child->launch_state, LAUNCH_ENDED, LAUNCH_IDLE) == LAUNCH_IDLE) {
                return false;
            }
            break;
        case LAUNCH_ENDED:
            return false;
        case LAUNCH_LAUNCHING:
            // The child is suspended until the main thread lets it run; if this
            // comes first, it never runs. Either way, wait for the outcome.
            InterlockedCompareExchange(&child->launch_state, LAUNCH_INTERRUPTED, LAUNCH_LAUNCHING);
            break;
        case LAUNCH_INTERRUPTED:
            // Creation and publication take moments; the main thread never
            // waits for a handler in between, so this wait always ends.
            Sleep(1);
            break;
        default:
            return true;
        }
    }
}

void publish_child_handle(ChildState *child, SystemHandle process)
{
    InterlockedExchangePointer(const_cast<PVOID volatile *>(&child->process), process);
    InterlockedExchange(&child->uses, 1);
}

SystemHandle acquire_child_handle(ChildState *child)
{
    for (;;) {
        LONG uses = child->uses;
        if (uses <= 0) {
            return NULL;
        }
        // Counts up only from the value just seen, so never from zero.
        if (InterlockedCompareExchange(&child->uses, uses + 1, uses) == uses) {
            return child->process;
        }
    }
}

void release_child_handle(ChildState *child)
{
    if (InterlockedDecrement(&child->uses) == 0) {
        HANDLE process = InterlockedExchangePointer(const_cast<PVOID volatile *>(&child->process), NULL);
        if (process != NULL) {
            CloseHandle(process);
        }
    }
}

void record_child_exit_status(ChildState *child, unsigned long status)
{
    // Written before the main thread's release, whose interlocked decrement
    // makes it visible to a handler that then finds no handle to take.
    InterlockedExchange(&child->exit_status, static_cast<LONG>(status));
}

unsigned long recorded_child_exit_status(ChildState *child)
{
    return static_cast<unsigned long>(InterlockedCompareExchange(&child->exit_status, 0, 0));
}
