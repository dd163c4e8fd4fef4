// launch.h: starts the main binary as a child (in the launcher's console,
// if it has one), waits for it and passes on its exit code.
#ifndef ZOBREL_CHILD_LAUNCH_H
#define ZOBREL_CHILD_LAUNCH_H

#include <windows.h>

#include "child/child_state.h"
#include "common/launch_shared.h"
#include "common/stage_result.h"

// Publishes ZOBREL_ONEFILE_DIRECTORY (the folder of the launcher's own path,
// no trailing backslash), ZOBREL_ORIGINAL_ARGV0 (the launch's argv0
// unchanged) and ZOBREL_ONEFILE_UNPACK_DIRECTORY (the launch's unpack
// directory, no trailing backslash), sets the build's variables
// (set_child_environment), then starts the launch's main binary path with
// the command line already built (build_child_command_line), the launcher's
// standard handles (when it has at least one that is neither null nor
// invalid; else the child keeps its own defaults), the show state it was
// started with (STARTF_USESHOWWINDOW), its environment and current
// directory, and waits for it without limit. The child is tied to the
// launcher by a job (child/child_job.h) and inherits the handles that hold
// its folder (the unpack directory's claim and `build_marker`, the tidy's
// hold on the folder's marker, each when not null), so that its
// folder stays held for as long as it runs. The windowed launcher also
// watches the session's end around the child (child/session_end.h).
// Success: *exit_status is its exit code, all 32 bits; 1 when it cannot be
// read. A child that a console event ended before it could run gives
// 0xC000013A, its own code. FAILURE_LAUNCH with the system error when a
// variable cannot be set whole (a value longer than 32,766 units gives
// ERROR_FILENAME_EXCED_RANGE; nothing is started), or a run value the
// expansion used could not be pinned (run_value_pin_error), or when the
// child cannot be created or let run (one that was created is ended
// first). Abnormal termination when the launcher's own path was not had
// whole. When a console event has already ended the run, starts nothing
// and ends the process with 0xC000013A, as the event's own handling is
// doing at that moment.
StageResult launch_child(const LaunchShared *launch, ChildStage *child, HANDLE build_marker,
                         unsigned long *exit_status);

#endif
