// directories.h: creates the directories above a file with as few system
// calls as it can, remembering for the whole launch every directory known to
// exist (the payload stage's DirectoryMemo, payload/payload_state.h). Main thread
// only.
#ifndef ZOBREL_PAYLOAD_DIRECTORIES_H
#define ZOBREL_PAYLOAD_DIRECTORIES_H

#include <stddef.h>

#include "common/launch_shared.h"
#include "payload/payload_state.h"
#include "common/stage_result.h"

// Puts the user's home folder ("{HOME}", expanded with the launch's facts) in
// the memo as its first entry, unless the memo is seeded already: so
// the home folder, where unpack directories usually lie, is never probed.
// FAILURE_EXPAND, with the specification "{HOME}" as its detail, when the
// home folder cannot be had; the memo stays unseeded. Called before the
// memo's first use in a launch, and only then, since it costs a lookup.
StageResult seed_directory_memo(const LaunchShared *launch, DirectoryMemo *memo);

// Makes sure the directory that holds the path exists, creating missing
// directories from the top down. True when the path has no parent (no
// backslash after its first unit) or its parent now exists. The path is not
// changed; one that does not fit 4096 units ends the process abnormally.
// For the folders above an unpack directory, which are the user's: links
// among them are followed.
bool ensure_parent_directories(DirectoryMemo *memo, const wchar_t *path);

// The same for the directory itself.
bool ensure_directory(DirectoryMemo *memo, const wchar_t *directory);

// For a path in the launch's unpack directory (the directory, a backslash
// and a relative name), with the directory's lock held and its unpack root
// resolved: makes sure every folder from the unpack directory down to the
// path's own exists and is a real folder exactly where it is meant to be,
// its final path the unpack root's followed by its relative name
// (common/final_path.h): never a link, nor a name that resolves to another
// folder. Each is made when missing, checked once, and then remembered in
// the memo, which needs no seeding for them. False at the first folder that
// cannot be made or is not where it is meant to be: nothing is ever made
// inside one that is not.
bool ensure_folders_in_unpack_directory(const LaunchShared *launch, DirectoryMemo *memo, const wchar_t *path);

// True when the one directory now exists or is taken as existing: it is in
// the memo, is a bare drive such as C:, is created, or already exists. A
// failure other than "already exists" gives false and is not remembered.
bool create_directory_cached(DirectoryMemo *memo, const wchar_t *path);

// Frees the memo's entries and empties it, unseeded.
void forget_directories(DirectoryMemo *memo);

#endif
