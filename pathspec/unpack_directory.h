// unpack_directory.h: the unpack directory, from the build's target
// specification.
#ifndef ZOBREL_PATHSPEC_UNPACK_DIRECTORY_H
#define ZOBREL_PATHSPEC_UNPACK_DIRECTORY_H

#include "common/launch_shared.h"
#include "common/stage_result.h"

// Expands the build's target specification (expand_path_spec) into the launch's
// unpack directory and makes that absolute (make_full_path). FAILURE_EXPAND,
// with the specification as built, when the expansion fails; that is found
// out only once the partial result has been made absolute, so an empty one
// ends the process abnormally there, with no message, and nothing is ever
// unpacked anywhere else.
StageResult choose_unpack_directory(LaunchShared *launch);

#endif
