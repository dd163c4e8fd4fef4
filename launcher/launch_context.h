// launch_context.h: everything one launch knows and keeps, composed from the
// part several stages read (common/launch_shared.h) and each stage's own
// part, in one record that the launcher holds in static storage. Each stage
// is handed the parts it needs and writes only its own; nothing else of the
// launch lives in variables that several files share.
//
// Threads: the main thread owns the context. The child part's state is
// shared with the console event handler (child/child_handle.h says how); the
// index check's helper threads write only their own records' states while
// the main thread waits for them; the tidy's thread reads the shared part
// and writes the tidy's outcome while the child runs.
#ifndef ZOBREL_LAUNCHER_LAUNCH_CONTEXT_H
#define ZOBREL_LAUNCHER_LAUNCH_CONTEXT_H

#include "child/child_state.h"
#include "common/launch_shared.h"
#include "payload/payload_state.h"
#include "tidy/tidy_state.h"

struct LaunchContext {
    LaunchShared shared;
    PayloadStage payload;
    TidyState tidy;
    ChildStage child;
};

// Empties the whole context (every part as before its stage ran), then reads
// the process facts into the shared part (init_launch_shared).
void init_launch_context(LaunchContext *context, const wchar_t *argv0);

#endif
