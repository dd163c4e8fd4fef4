// final_path.h: where an open file or folder really is, as the file system
// resolves it (GetFinalPathNameByHandleW), and whether that is where it was
// meant to be.
//
// Nothing of a tree the launcher writes or removes is trusted by its name
// alone: a symbolic link or a junction in its place leads elsewhere, and
// attributes can say nothing of one (under Wine a link to a file lists as a
// plain file, and deleting it, renaming it or writing through it reaches
// its target). So the tree's root is resolved once, and every entry is first
// opened and acted on through that handle only when its final path is the
// root's followed by the entry's relative name. A link, a name that is
// another file's short name, a folder swapped for something else: each
// resolves elsewhere and is left alone. One code path for Windows and Wine.
#ifndef ZOBREL_COMMON_FINAL_PATH_H
#define ZOBREL_COMMON_FINAL_PATH_H

#include <windows.h>
#include <stddef.h>

#include "capacities.h"

// Units of a final path buffer: a path of a wide path buffer, and room for
// the prefix the system puts before it ("\\?\UNC\").
static const size_t FINAL_PATH_CAPACITY = WIDE_PATH_CAPACITY + 8;

// A folder's final path, without a trailing backslash, and the form it was
// asked in: VOLUME_NAME_DOS ("\\?\C:\..."), or VOLUME_NAME_NT
// ("\Device\...") for a volume without a drive letter; every entry under it
// is resolved in the same form.
struct FinalPath {
    wchar_t text[FINAL_PATH_CAPACITY];
    size_t length;
    DWORD form;
};

// Resolves the open handle's final path: as a DOS path, or when the system
// gives none, as an NT one. False, with the system's error as the thread's
// last error, when it has neither or the path does not fit.
bool resolve_final_path(HANDLE handle, FinalPath *path);

// True when the open handle resolves, in the root's form, to the root's
// final path followed by a backslash and the `length` units of `relative`
// (backslash-separated), compared as the file system compares names:
// ordinal, without regard to case. With `length` 0, when it resolves to the
// root itself.
bool handle_is_at(HANDLE handle, const FinalPath &root, const wchar_t *relative, size_t length);

// Opens the entry itself, never what a link there leads to (on Windows; Wine
// follows its Unix links whatever is asked, which handle_is_at then sees),
// with full sharing: FILE_FLAG_BACKUP_SEMANTICS opens a folder too.
HANDLE open_entry(const wchar_t *path, DWORD access);

// Opens the folder at `path` (whose `relative` part, `length` units, lies
// under the root) through open_entry, and keeps it only when it is a real
// folder (not a link of any kind) at root + relative. Otherwise closes it
// and returns INVALID_HANDLE_VALUE, with ERROR_CANT_RESOLVE_FILENAME as the
// last error when something other than that folder is there.
HANDLE open_folder_at(const wchar_t *path, const FinalPath &root, const wchar_t *relative, size_t length,
                      DWORD access);

#endif
