// through_handle.h: renaming and deleting through an open handle, the only
// way the launcher renames or deletes what it checked (common/final_path.h):
// by name, the system would look the name up again, and a link could have
// taken its place meanwhile; under Wine, deleting or renaming a link by
// name reaches its target.
#ifndef ZOBREL_COMMON_THROUGH_HANDLE_H
#define ZOBREL_COMMON_THROUGH_HANDLE_H

#include <windows.h>

// Gives the entry open on the handle (opened with DELETE access) the new
// full path (fewer than WIDE_PATH_CAPACITY units), in the same volume;
// replaces an entry of that name only when asked to (a link there is
// replaced, never followed). False with the system's error.
bool rename_through_handle(HANDLE entry, const wchar_t *new_path, bool replace);

// Marks the entry open on the handle (opened with DELETE access) to be
// deleted once its last handle closes: a file, or a folder that is empty.
// A read-only one first loses that attribute (the handle needs
// FILE_WRITE_ATTRIBUTES for that), as the system refuses it otherwise.
// False with the system's error (ERROR_DIR_NOT_EMPTY for a folder with
// anything in it).
bool delete_through_handle(HANDLE entry);

#endif
