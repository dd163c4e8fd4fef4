// directories.cpp: the directory creation cache.
#include "payload/directories.h"

#include <windows.h>
#include <wchar.h>

#include "common/fatal.h"
#include "common/wide_buffer.h"
#include "pathspec/expand.h"

CreatedDirectories g_created_directories;

static const wchar_t HOME_SPEC[] = L"{HOME}";

// A copy that cannot be made is not stored: an empty slot would match nothing
// useful and would hide the directory from later calls.
static void remember_directory(const wchar_t *path)
{
    if (g_created_directories.count >= CREATED_DIRECTORIES_CAPACITY) {
        return;
    }
    wchar_t *copy = _wcsdup(path);
    if (copy == NULL) {
        return;
    }
    g_created_directories.entries[g_created_directories.count++] = copy;
}

static void seed_with_home()
{
    wchar_t home[WIDE_PATH_CAPACITY];
    if (!expand_path_spec(home, HOME_SPEC, WIDE_PATH_CAPACITY)) {
        fatal_expand_error(HOME_SPEC);
    }
    remember_directory(home);
}

static bool is_remembered(const wchar_t *path)
{
    for (int i = 0; i < g_created_directories.count; i++) {
        if (wcscmp(g_created_directories.entries[i], path) == 0) {
            return true;
        }
    }
    return false;
}

bool create_directory_cached(const wchar_t *path)
{
    if (g_created_directories.count == 0) {
        seed_with_home();
    }
    if (is_remembered(path)) {
        return true;
    }
    if (wcslen(path) == 2 && path[1] == L':') {
        return true;  // a bare drive always exists
    }
    if (!CreateDirectoryW(path, /* lpSecurityAttributes */ NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    remember_directory(path);
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
// put back by restoring that backslash, so the depth costs no stack.
bool ensure_parent_directories(const wchar_t *path)
{
    wchar_t levels[WIDE_PATH_CAPACITY];
    copy_wide(levels, WIDE_PATH_CAPACITY, path);
    size_t bottom = parent_end(levels, wcslen(levels));
    if (bottom == 0) {
        return true;
    }
    levels[bottom] = L'\0';
    if (create_directory_cached(levels)) {
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
        if (create_directory_cached(levels)) {
            // This level exists: the way down starts below it.
            levels[length] = L'\\';
            length = wcslen(levels);
            break;
        }
    }

    // Down: every remaining level, the topmost first, up to the parent itself.
    for (;;) {
        bool created = create_directory_cached(levels);
        if (length == bottom) {
            return created;
        }
        levels[length] = L'\\';
        length = wcslen(levels);
    }
}
