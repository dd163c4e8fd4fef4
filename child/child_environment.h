// child_environment.h: the build's variables for the child, expanded before
// the unpack and set when it starts.
#ifndef ZOBREL_CHILD_CHILD_ENVIRONMENT_H
#define ZOBREL_CHILD_CHILD_ENVIRONMENT_H

#include "child/child_state.h"
#include "common/launch_shared.h"
#include "common/stage_result.h"

// Expands the value of each of the build's variables (expand_command_text,
// so the unpack directory must have been chosen) into the expansion's
// environment values, in order, all before any is set: each sees the
// environment the launcher started with. Nothing for a build without
// variables. Failures: FAILURE_LAUNCH with ERROR_FILENAME_EXCED_RANGE when a
// value would be longer than the 32,766 units a variable holds
// (ENVIRONMENT_VALUE_LIMIT);
// FAILURE_EXPAND, with the value as built, when one cannot be expanded;
// FAILURE_MEMORY when the values' block cannot be had.
StageResult expand_child_environment(const LaunchShared *launch, ChildExpansion *expansion);

// Sets each of the build's variables in the launcher's own environment,
// which the child inherits, in the build's order: to its expanded value, or
// removed when that is empty. FAILURE_LAUNCH with the system's error at the
// first one that cannot be set whole (set_variable_whole): never a value
// cut short.
StageResult set_child_environment(const LaunchShared *launch, const ChildExpansion *expansion);

#endif
