// remove_tree.cpp: removes a folder tree, depth first, within a time limit.
//
// One path buffer walks the tree: it descends into the first subfolder a
// listing shows, and climbs back when a folder is empty and removed. The
// listing of a folder is started again after each of its subfolders is
// gone, so no listing is kept open per level: any depth takes no more
// memory, and no folder is removed while this code lists it.
#include "tidy/remove_tree.h"

#include <wchar.h>

#include "common/wide_buffer.h"

static wchar_t g_path[WIDE_PATH_CAPACITY];

static bool past(ULONGLONG deadline)
{
    return GetTickCount64() > deadline;
}

static bool is_dot_entry(const wchar_t *name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Removes the file or the empty folder (or the link to one) at g_path; a
// read-only one loses that attribute first, as Windows refuses to remove it
// otherwise.
static bool remove_entry(bool folder)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        if (folder ? RemoveDirectoryW(g_path) : DeleteFileW(g_path)) {
            return true;
        }
        if (attempt > 0 || GetLastError() != ERROR_ACCESS_DENIED) {
            return false;
        }
        const DWORD attributes = GetFileAttributesW(g_path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
            !SetFileAttributesW(g_path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
            return false;
        }
    }
    return false;
}

// Cuts g_path back to its first `length` units.
static void cut(size_t length)
{
    g_path[length] = L'\0';
}

// Lists the folder at g_path (length units): removes its files and links,
// and stops at its first real subfolder, which g_path then names (*descend
// set). False when an entry cannot be removed or time is up.
static bool clear_files(size_t length, ULONGLONG deadline, bool *descend)
{
    *descend = false;
    if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, L"\\*")) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileExW(g_path, FindExInfoBasic, &entry, FindExSearchNameMatch,
                                      /* lpSearchFilter */ NULL, FIND_FIRST_EX_LARGE_FETCH);
    cut(length);
    if (listing == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    bool cleared = true;
    do {
        if (is_dot_entry(entry.cFileName)) {
            continue;
        }
        if (past(deadline) || !append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, L"\\") ||
            !append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, entry.cFileName)) {
            cleared = false;
            break;
        }
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (folder && !link) {
            *descend = true;
            break;
        }
        if (!remove_entry(folder)) {
            cleared = false;
            break;
        }
        cut(length);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    if (!cleared) {
        cut(length);
    }
    return cleared;
}

bool remove_tree(const wchar_t *folder, ULONGLONG deadline)
{
    g_path[0] = L'\0';
    if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, folder)) {
        return false;
    }
    const size_t root_length = wcslen(g_path);
    size_t length = root_length;
    for (;;) {
        bool descend = false;
        if (!clear_files(length, deadline, &descend)) {
            return false;
        }
        if (descend) {
            length = wcslen(g_path);
            continue;
        }
        // Empty now: remove it and climb to its parent, whose listing starts again.
        if (!remove_entry(/* folder */ true)) {
            return false;
        }
        if (length == root_length) {
            return true;
        }
        while (length > root_length && g_path[length] != L'\\') {
            length--;
        }
        cut(length);
    }
}
