// directories.h: creates the directories above a file with as few system
// calls as it can, remembering for the whole launch every directory known to
// exist (the context's DirectoryMemo, common/launch_context.h). Main thread
// only.
#ifndef ZOBREL_PAYLOAD_DIRECTORIES_H
#define ZOBREL_PAYLOAD_DIRECTORIES_H

#include <stddef.h>

#include "common/launch_context.h"
#include "common/stage_result.h"

// Puts the user's home folder ("{HOME}", expanded with the context) in the
// context's memo as its first entry, unless the memo is seeded already: so
// the home folder, where unpack directories usually lie, is never probed.
// FAILURE_EXPAND, with the specification "{HOME}" as its detail, when the
// home folder cannot be had; the memo stays unseeded. Called before the
// memo's first use in a launch, and only then, since it costs a lookup.
StageResult seed_directory_memo(LaunchContext *context);

// Makes sure the directory that holds the path exists, creating missing
// directories from the top down. True when the path has no parent (no
// backslash after its first unit) or its parent now exists. The path is not
// changed; one that does not fit 4096 units ends the process abnormally.
bool ensure_parent_directories(DirectoryMemo *memo, const wchar_t *path);

// True when the one directory now exists or is taken as existing: it is in
// the memo, is a bare drive such as C:, is created, or already exists. A
// failure other than "already exists" gives false and is not remembered.
bool create_directory_cached(DirectoryMemo *memo, const wchar_t *path);

// Frees the memo's entries and empties it, unseeded.
void forget_directories(DirectoryMemo *memo);

#endif
