// paths.h: per-user folders, narrow text, absolute and short paths, written
// into caller-owned wide buffers.
//
// Every operation that writes into a buffer appends at the end of its current
// text; the added text and its NUL must fit in the capacity (units, NUL
// included), otherwise the process ends (abnormal termination). Nothing is
// ever truncated.
#ifndef ZOBREL_PATHSPEC_PATHS_H
#define ZOBREL_PATHSPEC_PATHS_H

#include <stddef.h>

// Appends the per-user folder with the given CSIDL (SHGetFolderPathW, current
// path, from shell32 loaded out of the system folder) as the platform reports
// it. False, with the buffer untouched, when the shell cannot be loaded or
// the query does not return S_OK.
bool append_known_folder(wchar_t *buffer, int folder_id, size_t capacity);

// Widens the narrow text one character at a time and appends it. A character
// that does not convert to exactly one UTF-16 unit ends the process.
void append_narrow_string(wchar_t *buffer, const char *text, size_t capacity);

// True when the path names one place whatever the current drive and folder:
// a drive letter, a colon and a backslash ("C:\"), or two backslashes (a
// share, "\\server\share", or a device path, "\\?\"), a forward slash
// counting as a backslash ("C:/", "//server/share") as Windows counts it.
// "C:x", "\x", "/x" and "x" are relative.
bool is_absolute_path(const wchar_t *path);

// Replaces the buffer's path by its absolute form (GetFullPathNameW). Ends
// the process when that fails (an empty path included) or the result does
// not fit; the capacity must not exceed 4096 units.
void make_full_path(wchar_t *buffer, size_t capacity);

// Replaces the directory part of the path (all before the last backslash)
// by its short form where the platform has one; the last component is kept
// as it is. Leaves the long form whenever no short form can be had.
void shorten_directory_part(wchar_t *buffer, size_t capacity);

#endif
