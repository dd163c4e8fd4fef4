// directories.h: creates the directories above a file with as few system
// calls as it can, remembering for the whole run every directory known to
// exist. Main thread only.
#ifndef ZOBREL_PAYLOAD_DIRECTORIES_H
#define ZOBREL_PAYLOAD_DIRECTORIES_H

#include <stddef.h>

static const int CREATED_DIRECTORIES_CAPACITY = 1024;

// Directories known to exist, as heap copies, matched by exact code units.
// Entry 0 is the user's home folder, added at the first use.
struct CreatedDirectories {
    wchar_t *entries[CREATED_DIRECTORIES_CAPACITY];
    int count;
};

extern CreatedDirectories g_created_directories;

// Makes sure the directory that holds the path exists, creating missing
// directories from the top down. True when the path has no parent (no
// backslash after its first unit) or its parent now exists. The path is not
// changed; one that does not fit 4096 units ends the process abnormally.
bool ensure_parent_directories(const wchar_t *path);

// True when the one directory now exists or is taken as existing: it is in
// the table, is a bare drive such as C:, is created, or already exists. A
// failure other than "already exists" gives false and is not remembered.
// The first call expands "{HOME}"; if that fails it prints the expand error
// and ends the process abnormally.
bool create_directory_cached(const wchar_t *path);

#endif
