// build_marker.h: the small file (BUILD_MARKER_NAME, format/archive_name.h;
// its layout in format/build_marker_layout.h) in the top of an unpack directory
// that says which product's launcher made it and under which name, when one
// of its starts last began, and, while held open, that its program runs.
// Only builds packed to keep a number of builds use it.
//
// Its last-write time is the start time of the folder's latest start. A
// folder whose marker names another folder (a copy, a backup, a folder
// renamed by hand) or is of the earlier 16-byte form is never taken for a
// build.
//
// A running start holds the marker open, shared for reading and writing but
// never for deleting, from under the unpack lock until the launcher ends,
// and its program inherits the handle (child/launch.h), so the marker stays
// held while the program runs even when the launcher is killed. The hold
// asks only to read the file and set its time, so it goes along with the
// usual brief looks of other programs (a read, shared for reading), and any
// other hold is waited out as every open of the unpack directory is
// (payload/brief_hold.h). A tidy of another start tries to open it shared
// with nobody: that fails as long as any start of the folder, or its
// program, holds it, on Windows and under Wine alike (Wine does not lock
// running images, so a running program alone would not keep its folder from
// being renamed there). On Windows the held file also keeps the folder from
// being renamed or deleted.
#ifndef ZOBREL_TIDY_BUILD_MARKER_H
#define ZOBREL_TIDY_BUILD_MARKER_H

#include <windows.h>
#include <stdint.h>

#include "common/final_path.h"
#include "common/launch_shared.h"
#include "tidy/tidy_state.h"

// The product a build belongs to (build_marker_identity, format/build_marker_layout.h).
uint64_t product_identity(const BuildInfo &build);

// With the unpack directory's lock held, its unpack root resolved and the
// build keeping a number of builds: opens the directory's marker to hold it,
// makes it this product's marker naming this folder (the last part of the
// unpack root, as the file system spells it) if it is not, sets its
// last-write time to now (the one write of a warm start), and keeps it open
// in the tidy's part until the launcher ends. Every open goes
// through payload/target_file.h: a link in the marker's place is never
// written through. Does nothing when the build keeps every folder. Fails
// quietly: the start goes on, its folder then unmarked (never tidied), or
// marked but not held, when another program keeps the marker longer than
// the bound (the folder's claim, payload/unpack_lock.h, still keeps it from
// every tidy of the same logon session while its program runs).
void hold_build_marker(const LaunchShared *launch, TidyState *tidy);

// What the marker of the folder at `path` says, read with full sharing (it
// is not held against anyone): true when the marker is where it is meant to
// be (its final path the parent's, the folder's `name`, and the marker's
// name: never a link), whole, names the product identity and this folder's
// name exactly; *started then receives its last-write time.
bool read_folder_marker(const wchar_t *path, const FinalPath &parent, const wchar_t *name, uint64_t identity,
                        FILETIME *started);

// True when the folder's marker can be opened shared with nobody and says
// what read_folder_marker asks, and so no start of that folder holds it now.
// The open is closed again before it returns: call it with the folder's
// unpack lock held, so that no start can take the marker meanwhile.
bool build_marker_free(const wchar_t *path, const FinalPath &parent, const wchar_t *name, uint64_t identity);

#endif
