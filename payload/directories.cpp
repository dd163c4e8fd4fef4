// directories.cpp: the directory creation cache.
#include "payload/directories.h"

#include <windows.h>
#include <wchar.h>

#include <stdlib.h>

#include "common/final_path.h"
#include "common/wide_buffer.h"
#include "pathspec/expand.h"

static const wchar_t HOME_SPEC[] = L"{HOME}";

// A copy that cannot be made is not stored: an empty slot would match nothing
// useful and would hide the directory from later calls.
static void remember_directory(DirectoryMemo *memo, const wchar_t *path)
{
    if (memo->count >= CREATED_DIRECTORIES_CAPACITY) {
        return;
    }
    wchar_t *copy = _wcsdup(path);
    if (copy == NULL) {
        return;
    }
    memo->entries[memo->count++] = copy;
}

StageResult seed_directory_memo(const LaunchShared *launch, DirectoryMemo *memo)
{
    if (memo->seeded) {
        return stage_succeeded();
    }
    wchar_t home[WIDE_PATH_CAPACITY];
    if (!expand_path_spec(launch, home, HOME_SPEC, WIDE_PATH_CAPACITY)) {
        return stage_failed(FAILURE_EXPAND, 0, HOME_SPEC);
    }
    remember_directory(memo, home);
    memo->seeded = true;
    return stage_succeeded();
}

void forget_directories(DirectoryMemo *memo)
{
    for (int i = 0; i < memo->count; i++) {
        free(memo->entries[i]);
        memo->entries[i] = NULL;
    }
    memo->count = 0;
    memo->seeded = false;
}

static bool is_remembered(const DirectoryMemo *memo, const wchar_t *path)
{
    for (int i = 0; i < memo->count; i++) {
        if (wcscmp(memo->entries[i], path) == 0) {
            return true;
        }
    }
    return false;
}

bool create_directory_cached(DirectoryMemo *memo, const wchar_t *path)
{
    if (is_remembered(memo, path)) {
        return true;
    }
    if (wcslen(path) == 2 && path[1] == L':') {
        return true;  // a bare drive always exists
    }
    if (!CreateDirectoryW(path, /* lpSecurityAttributes */ NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    remember_directory(memo, path);
    return true;
}

// The end of the parent of the path held in buffer[0, length): the index of
// the last backslash at index 1 or later, or 0 when there is none (the first
// unit is never a separator: "\\x" has no parent to create).
static size_t parent_end(const wchar_t *buffer, size_t length)
{
    size_t cut = length;
    while (cut > 1 && buffer[cut - 1] != L'\\') {
        cut--;
    }
    return cut <= 1 ? 0 : cut - 1;
}

// The same calls as climbing one level per call (each failing level from the
// bottom up, then every level below the first that exists again from the top
// down), but in one buffer: a level is cut off by a NUL over its backslash and
// put back by restoring that backslash, so the depth costs no stack. The
// directory is levels[0, bottom).
static bool ensure_levels(DirectoryMemo *memo, wchar_t *levels, size_t bottom)
{
    levels[bottom] = L'\0';
    if (create_directory_cached(memo, levels)) {
        return true;
    }

    // Up: cut one level more while creation fails and a parent is left. A
    // level without a parent is tried once more on the way down, as its own
    // climb would have done after finding nothing above it.
    size_t length = bottom;
    for (;;) {
        size_t cut = parent_end(levels, length);
        if (cut == 0) {
            break;
        }
        levels[cut] = L'\0';
        length = cut;
        if (create_directory_cached(memo, levels)) {
            // This level exists: the way down starts below it.
            levels[length] = L'\\';
            length = wcslen(levels);
            break;
        }
    }

    // Down: every remaining level, the topmost first, up to the directory itself.
    for (;;) {
        bool created = create_directory_cached(memo, levels);
        if (length == bottom) {
            return created;
        }
        levels[length] = L'\\';
        length = wcslen(levels);
    }
}

bool ensure_parent_directories(DirectoryMemo *memo, const wchar_t *path)
{
    wchar_t levels[WIDE_PATH_CAPACITY];
    copy_wide(levels, WIDE_PATH_CAPACITY, path);
    size_t bottom = parent_end(levels, wcslen(levels));
    if (bottom == 0) {
        return true;
    }
    return ensure_levels(memo, levels, bottom);
}

bool ensure_directory(DirectoryMemo *memo, const wchar_t *directory)
{
    wchar_t levels[WIDE_PATH_CAPACITY];
    copy_wide(levels, WIDE_PATH_CAPACITY, directory);
    size_t bottom = wcslen(levels);
    while (bottom > 1 && levels[bottom - 1] == L'\\') {
        bottom--;
    }
    return ensure_levels(memo, levels, bottom);
}

// Makes the folder levels[0, end) inside a folder already checked, unless
// it is there, and checks it is a real folder where it is meant to be: its
// relative name is what follows the unpack directory's `root_end` units.
static bool make_checked_folder(const LaunchShared *launch, DirectoryMemo *memo, const wchar_t *levels,
                                size_t root_end)
{
    if (!CreateDirectoryW(levels, /* lpSecurityAttributes */ NULL) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    HANDLE folder = open_folder_at(levels, launch->unpack_root, levels + root_end + 1,
                                   wcslen(levels) - root_end - 1, /* access: a look */ 0);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(folder);
    remember_directory(memo, levels);
    return true;
}

bool ensure_folders_in_unpack_directory(const LaunchShared *launch, DirectoryMemo *memo, const wchar_t *path)
{
    wchar_t levels[WIDE_PATH_CAPACITY];
    copy_wide(levels, WIDE_PATH_CAPACITY, path);
    const size_t root_end = bounded_wide_length(launch->unpack_directory, WIDE_PATH_CAPACITY);
    const size_t bottom = parent_end(levels, wcslen(levels));
    if (bottom <= root_end) {
        return true;  // right in the unpack directory, which the lock resolved
    }
    // Up, through the memo alone: the deepest folder already checked. No
    // folder is made before every folder above it was checked, so nothing is
    // ever made through a link.
    size_t known = root_end;
    for (size_t cut = bottom; cut > root_end; cut = parent_end(levels, cut)) {
        const wchar_t kept = levels[cut];
        levels[cut] = L'\0';
        const bool remembered = is_remembered(memo, levels);
        levels[cut] = kept;
        if (remembered) {
            known = cut;
            break;
        }
    }
    // Down: each level below it, made and checked in turn.
    size_t end = known;
    while (end < bottom) {
        end++;
        while (end < bottom && levels[end] != L'\\') {
            end++;
        }
        levels[end] = L'\0';
        const bool made = make_checked_folder(launch, memo, levels, root_end);
        levels[end] = L'\\';
        if (!made) {
            return false;
        }
    }
    return true;
}
