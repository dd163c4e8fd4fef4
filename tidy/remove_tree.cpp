// remove_tree.cpp: removes a folder tree, depth first, within a time limit,
// through checked handles only.
//
// One path buffer walks the tree: it descends into the first subfolder a
// listing shows, and climbs back when a folder is empty and removed. The
// listing of a folder is started again after each of its subfolders is
// gone, so no listing is kept open per level: any depth takes no more
// memory, and no folder is removed while this code lists it.
#include "tidy/remove_tree.h"

#include <wchar.h>

#include "common/through_handle.h"
#include "common/wide_buffer.h"

static wchar_t g_path[WIDE_PATH_CAPACITY];
// The tree's final path, and the units of its path in g_path.
static FinalPath g_root;
static size_t g_root_length;

// What removing an entry does: open it as itself, learn what it is, set
// its attributes (a read-only one) and delete it.
static const DWORD REMOVAL_ACCESS = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

static bool past(ULONGLONG deadline)
{
    return GetTickCount64() > deadline;
}

static bool is_dot_entry(const wchar_t *name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Cuts g_path back to its first `length` units.
static void cut(size_t length)
{
    g_path[length] = L'\0';
}

static bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The entry at g_path (`length` units), opened as itself, is where it is
// meant to be: its final path is the tree's and its name below it.
static bool where_meant(HANDLE entry, size_t length)
{
    if (length == g_root_length) {
        return handle_is_at(entry, g_root, /* relative */ L"", 0);
    }
    return handle_is_at(entry, g_root, g_path + g_root_length + 1, length - g_root_length - 1);
}

// The entry at g_path (`length` units), listed in a folder being cleared
// with those attributes: a real folder sets *descend; anything else (a
// file, a link of any kind) is removed. TREE_REMOVED when it is gone or to
// be descended into. What the listing says is only a hint: the handle's
// final path decides (under Wine a link to a file lists as a plain file, a
// link to a folder as a folder), and a link listed as a real folder (on
// Windows a junction lists as a reparse point) would resolve elsewhere.
static TreeRemoval remove_entry(size_t length, DWORD listed, bool *descend)
{
    *descend = false;
    HANDLE entry = open_entry(g_path, REMOVAL_ACCESS);
    if (entry == INVALID_HANDLE_VALUE) {
        // Gone meanwhile: nothing left to remove.
        return is_missing(GetLastError()) ? TREE_REMOVED : TREE_STOPPED;
    }
    TreeRemoval result = TREE_REMOVED;
    if (!where_meant(entry, length)) {
        result = TREE_LEFT;
    } else if ((listed & FILE_ATTRIBUTE_DIRECTORY) && !(listed & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *descend = true;
    } else if (!delete_through_handle(entry)) {
        result = TREE_STOPPED;
    }
    CloseHandle(entry);
    return result;
}

// True when a listing of the folder at g_path shows nothing but "." and "..".
static bool lists_nothing(size_t length)
{
    if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, L"\\*")) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileExW(g_path, FindExInfoBasic, &entry, FindExSearchNameMatch,
                                      /* lpSearchFilter */ NULL, /* dwAdditionalFlags */ 0);
    cut(length);
    if (listing == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    bool empty = true;
    do {
        empty = is_dot_entry(entry.cFileName);
    } while (empty && FindNextFileW(listing, &entry));
    FindClose(listing);
    return empty;
}

// Removes the folder at g_path (`length` units), which its listing showed
// empty.
static TreeRemoval remove_empty_folder(size_t length)
{
    HANDLE folder = open_entry(g_path, REMOVAL_ACCESS);
    if (folder == INVALID_HANDLE_VALUE) {
        return TREE_STOPPED;
    }
    const bool meant = where_meant(folder, length);
    const bool deleted = meant && delete_through_handle(folder);
    const DWORD error = GetLastError();
    // Closed before any listing: a handle that may delete the folder keeps
    // others from listing it.
    CloseHandle(folder);
    if (!meant) {
        return TREE_LEFT;
    }
    if (deleted) {
        return TREE_REMOVED;
    }
    // Not empty with nothing listed: under Wine, a link to nothing or to
    // itself, which no listing shows and nothing here can remove. On
    // Windows, entries being deleted by others still list.
    return error == ERROR_DIR_NOT_EMPTY && lists_nothing(length) ? TREE_LEFT : TREE_STOPPED;
}

// Lists the folder at g_path (length units): removes its files and links,
// and stops at its first real subfolder, which g_path then names (*descend
// set). TREE_REMOVED when that went well.
static TreeRemoval clear_files(size_t length, ULONGLONG deadline, bool *descend)
{
    *descend = false;
    if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, L"\\*")) {
        return TREE_LEFT;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileExW(g_path, FindExInfoBasic, &entry, FindExSearchNameMatch,
                                      /* lpSearchFilter */ NULL, FIND_FIRST_EX_LARGE_FETCH);
    cut(length);
    if (listing == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? TREE_REMOVED : TREE_STOPPED;
    }
    TreeRemoval result = TREE_REMOVED;
    do {
        if (is_dot_entry(entry.cFileName)) {
            continue;
        }
        if (past(deadline)) {
            result = TREE_STOPPED;
            break;
        }
        if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, L"\\") ||
            !append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, entry.cFileName)) {
            result = TREE_LEFT;  // deeper than any path the launcher names
            break;
        }
        result = remove_entry(wcslen(g_path), entry.dwFileAttributes, descend);
        if (result != TREE_REMOVED || *descend) {
            break;
        }
        cut(length);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    if (result != TREE_REMOVED) {
        cut(length);
    }
    return result;
}

TreeRemoval remove_tree(const wchar_t *path, const FinalPath &parent, const wchar_t *name, ULONGLONG deadline)
{
    g_path[0] = L'\0';
    if (!append_wide_if_fits(g_path, WIDE_PATH_CAPACITY, path)) {
        return TREE_LEFT;
    }
    if (past(deadline)) {
        return TREE_STOPPED;
    }
    // The tree itself, resolved once: a real folder where it was meant to be.
    HANDLE root = open_folder_at(g_path, parent, name, wcslen(name), /* access: a look */ 0);
    if (root == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_CANT_RESOLVE_FILENAME ? TREE_LEFT : TREE_STOPPED;
    }
    const bool resolved = resolve_final_path(root, &g_root);
    CloseHandle(root);
    if (!resolved) {
        return TREE_STOPPED;
    }
    g_root_length = wcslen(g_path);
    size_t length = g_root_length;
    for (;;) {
        bool descend = false;
        TreeRemoval step = clear_files(length, deadline, &descend);
        if (step != TREE_REMOVED) {
            return step;
        }
        if (descend) {
            length = wcslen(g_path);
            continue;
        }
        // Empty now: remove it and climb to its parent, whose listing starts again.
        step = remove_empty_folder(length);
        if (step != TREE_REMOVED || length == g_root_length) {
            return step;
        }
        while (length > g_root_length && g_path[length] != L'\\') {
            length--;
        }
        cut(length);
    }
}
