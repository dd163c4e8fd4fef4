// unpack_directory.cpp: expands the target specification into the unpack directory.
#include "pathspec/unpack_directory.h"

#include "pathspec/expand.h"
#include "pathspec/paths.h"

StageResult choose_unpack_directory(LaunchShared *launch)
{
    // The expansion's result is tested only after the path has been made
    // absolute: an empty partial result ends the run inside make_full_path.
    bool expanded =
        expand_path_spec(launch, launch->unpack_directory, launch->build.target_spec, WIDE_PATH_CAPACITY);
    make_full_path(launch->unpack_directory, WIDE_PATH_CAPACITY);
    if (!expanded) {
        return stage_failed(FAILURE_EXPAND, 0, launch->build.target_spec);
    }
    return stage_succeeded();
}
