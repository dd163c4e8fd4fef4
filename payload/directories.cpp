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

bool ensure_parent_directories(const wchar_t *path)
{
    wchar_t parent[WIDE_PATH_CAPACITY];
    copy_wide(parent, WIDE_PATH_CAPACITY, path);
    // The first unit is never a separator: "\x" has no parent to create.
    size_t cut = wcslen(parent);
    while (cut > 1 && parent[cut - 1] != L'\\') {
        cut--;
    }
    if (cut <= 1) {
        return true;
    }
    parent[cut - 1] = L'\0';
    if (create_directory_cached(parent)) {
        return true;
    }
    ensure_parent_directories(parent);
    return create_directory_cached(parent);
}
