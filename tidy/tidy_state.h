// tidy_state.h: the tidy's part of a launch, written by tidy/ only, and what
// one tidy of other builds' unpack folders did.
#ifndef ZOBREL_TIDY_TIDY_STATE_H
#define ZOBREL_TIDY_TIDY_STATE_H

#include "common/system_handles.h"

struct LaunchShared;

// What one tidy of other builds' unpack folders did (tidy/older_builds.h).
struct TidyOutcome {
    // Folders of other builds removed whole.
    unsigned removed;
    // Folders skipped because their program runs or a launcher unpacks them.
    unsigned in_use;
    // Folders whose removal stopped (a file in use, access denied, no time
    // left): left under a trash name for a later tidy.
    unsigned stopped;
    // Folders whose removal met what no later tidy would get past (a link,
    // a path too long): left for good under a name no tidy looks into again.
    unsigned left;
    // Trash of earlier removals found and cleared.
    unsigned leftovers_cleared;
    // The time limit ended the tidy before it was done.
    bool out_of_time;
};

struct TidyState {
    // The unpack directory's build marker, held open from under the unpack
    // lock until the launcher ends (tidy/build_marker.h); null when not held.
    SystemHandle marker;
    // The tidy's thread while it runs beside the child; else null.
    SystemHandle thread;
    // The launch the thread tidies for, while it runs (start_tidy).
    const LaunchShared *launch;
    // GetTickCount64 time by which the tidy stops, wherever it is.
    unsigned long long deadline;
    // The thread was still at work when the launcher stopped waiting for it.
    bool left_running;
    TidyOutcome outcome;
};

#endif
