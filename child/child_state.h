// child_state.h: the child stage's parts of a launch: what the launcher
// keeps around its child, what it shares with the console event handler
// about it, and the room in which the build's fixed arguments and variables
// are expanded for it.
#ifndef ZOBREL_CHILD_CHILD_STATE_H
#define ZOBREL_CHILD_CHILD_STATE_H

#include <stddef.h>

#include "argument_quoting.h"
#include "common/system_handles.h"

// Units of the child's command line: at most 32,767 units of text and a NUL.
static const size_t COMMAND_LINE_CAPACITY = COMMAND_LINE_LIMIT + 1;

// What the launcher keeps around its child; written by child/child_job.cpp
// (the job, both launchers) and child/session_end.cpp (the rest, the
// windowed launcher), on the main thread.
struct SessionWatch {
    // The hidden top-level window that hears the session's end, or null.
    WindowHandle window;
    // The job that ends the child when the launcher ends, or null.
    SystemHandle job;
    // The child's process id, once it is created.
    unsigned long child_id;
};

// What the main thread and the console event handler share about the child;
// written through child/child_handle.h only. The types are the ones the
// interlocked functions take (LONG, HANDLE).
struct ChildState {
    long volatile launch_state;
    SystemHandle volatile process;
    long volatile uses;
    long volatile exit_status;
};

// What the child gets besides the launcher's own command line and
// environment, made before the unpack (child/cmdline.h,
// child/child_environment.h): work room for one fixed argument or variable
// value being expanded, and each variable's value once expanded.
struct ChildExpansion {
    wchar_t expanded[COMMAND_LINE_CAPACITY];
    wchar_t key_value[COMMAND_LINE_CAPACITY];
    // The build's variables' values, expanded, in the build's order: one
    // heap block of NUL-terminated texts, one after another; null when the
    // build has none.
    wchar_t *environment_values;
};

// The child stage's whole part of a launch.
struct ChildStage {
    // Shared with the console event handler (child/child_handle.h).
    ChildState state;
    SessionWatch session;
    // The child's command line, built by child/cmdline.cpp.
    wchar_t command_line[COMMAND_LINE_CAPACITY];
    ChildExpansion expansion;
    // For tests: when set, the child launch calls it on the main thread after
    // the child is created and before its handle is published, so that a
    // test can hold the launch there. Null in the launcher.
    void (*launch_window_hook)(ChildStage *child);
};

#endif
