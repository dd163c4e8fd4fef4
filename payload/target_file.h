// target_file.h: the one way the launcher opens a file of its unpack
// directory to write it: an unpacked file, a repaired one, the state file,
// the build marker.
//
// Never through a link: writing through one (or, under Wine, replacing
// one) would write wherever it leads, outside the unpack directory. A file
// is made only where no entry has its name, even a dangling link; an
// existing one is opened as it is, without changing it, and kept only when
// its final path is the unpack root's followed by its relative name
// (common/final_path.h). Anything else is left alone as it is.
#ifndef ZOBREL_PAYLOAD_TARGET_FILE_H
#define ZOBREL_PAYLOAD_TARGET_FILE_H

#include <windows.h>
#include <stddef.h>

#include "common/launch_shared.h"

// Opens the file at `path` (the launch's unpack directory, a backslash and
// `relative`, `length` units) with `access` and `share`, as above, with the
// directory's lock held and its unpack root resolved; the folders on the way
// must have been checked (ensure_folders_in_unpack_directory). Each open that
// meets another program's brief hold waits it out (payload/brief_hold.h).
// *existed tells whether the file was there: its content then is still
// whole, for the caller to check the handle first and empty it after
// (empty_target_file). INVALID_HANDLE_VALUE when it cannot be opened, with
// the system's error, or ERROR_CANT_RESOLVE_FILENAME when what the name
// opens is not there (a link, another file's short name).
HANDLE open_target_file(const LaunchShared *launch, const wchar_t *path, const wchar_t *relative,
                        size_t length, DWORD access, DWORD share, bool *existed);

// The same for a file right in the unpack directory, named in ASCII (the
// launcher's own: the state file, the marker); the path is made here.
HANDLE open_own_file(const LaunchShared *launch, const char *name, DWORD access, DWORD share, bool *existed);

// Cuts the open file to nothing, through its handle (opened with
// GENERIC_WRITE). False with the system's error.
bool empty_target_file(HANDLE file);

#endif
