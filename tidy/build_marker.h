// build_marker.h: the small file (BUILD_MARKER_NAME, format/archive_name.h)
// in the top of an unpack directory that says which product's launcher made
// it, when one of its starts last began, and, while held open, that its
// program runs. Only builds packed to keep a number of builds use it.
//
// The marker is 16 bytes: the magic "ZOBBUILD", then the product identity
// (product_identity below) as a little-endian u64. Its last-write time is
// the start time of the folder's latest start.
//
// A running start holds the marker open, shared for reading and writing but
// never for deleting, from under the unpack lock until the launcher ends. A
// tidy of another start tries to open it shared with nobody: that fails as
// long as any start of the folder holds it, on Windows and under Wine alike
// (Wine does not lock running images, so a running program alone would not
// keep its folder from being renamed there). On Windows the held file also
// keeps the folder from being renamed or deleted.
#ifndef ZOBREL_TIDY_BUILD_MARKER_H
#define ZOBREL_TIDY_BUILD_MARKER_H

#include <windows.h>
#include <stdint.h>

#include "common/launch_context.h"

// Bytes of a marker.
static const DWORD BUILD_MARKER_SIZE = 16;

// The product a build belongs to: 64-bit FNV-1a over its company's UTF-16
// units, a 0 unit and its product's, exactly as built (letter case counts:
// another spelling is another product, and is never touched).
uint64_t product_identity(const BuildInfo &build);

// With the unpack directory's lock held and the build keeping a number of
// builds: opens the directory's marker (creating the directory when it is
// not there yet), makes it this product's if it is not, sets its last-write
// time to now (the one write of a warm start), and keeps it open in the
// context's tidy part until the launcher ends. Does nothing when the build
// keeps every folder. Fails quietly: the start goes on, its folder then
// unmarked (never tidied) or marked but not held.
void hold_build_marker(LaunchContext *context);

// What the marker of the folder says, read with full sharing (it is not
// held against anyone): true when it is whole and names the product
// identity; *started then receives its last-write time.
bool read_build_marker(const wchar_t *folder, uint64_t identity, FILETIME *started);

// True when the folder's marker can be opened shared with nobody, names the
// product identity, and so no start of that folder holds it now. The open
// is closed again before it returns: call it with the folder's unpack lock
// held, so that no start can take the marker meanwhile.
bool build_marker_free(const wchar_t *folder, uint64_t identity);

#endif
