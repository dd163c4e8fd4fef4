// archive_name.h: the rule every archive record name must satisfy, shared by
// the packer (which refuses to store a name that breaks it) and the launcher
// (which refuses to unpack one), so the two can never disagree.
//
// A name is UTF-16, components separated by backslashes, relative to the
// unpack directory. It is safe when it has 1 to 1023 units and every
// component is a plain Windows file name: not empty, not "." or "..", no
// control character, none of : / < > " | ? * (so no drive, stream or second
// separator), not ending in a dot or a space (Windows would drop them and
// reach another file), and not a device name such as CON or COM1; and a
// name's first component is not one the launcher keeps for itself in the
// unpack directory's top folder (below), in any letter case. The
// launcher refuses to unpack a name that breaks the rule: no packer stores
// one, so it is damage or hand-made.
#ifndef ZOBREL_FORMAT_ARCHIVE_NAME_H
#define ZOBREL_FORMAT_ARCHIVE_NAME_H

#include <stddef.h>

// Files of the launcher's own in the unpack directory's top folder: the
// record of the last verified state, the name it is written under before it
// takes its place, and the marker of the product that made the folder. No
// archive record may be named so, nor lie in a folder named so.
static const char STATE_FILE_NAME[] = ".zobrel-state";
static const char STATE_FILE_PARTIAL_NAME[] = ".zobrel-state.new";
static const char BUILD_MARKER_NAME[] = ".zobrel-build";

// The most of those a build writes.
static const size_t LAUNCHER_FILE_LIMIT = 3;

// Which of them a build writes in its top folder: the state file and its
// partial name when a start checks by metadata, the marker when the build
// keeps a number of builds. An archive name there is held apart from them by
// the clash search (name_clash.h) as from any other name. Fills `names`
// (room for LAUNCHER_FILE_LIMIT) and returns how many.
size_t launcher_files_written(bool checks_metadata, bool keeps_builds, const char **names);

// Why the name of `length` units is not safe, as a short English phrase
// ("the name is absolute"), or null when it is safe.
const char *archive_name_problem(const char16_t *name, size_t length);

// True when Windows takes the component (`length` units, no backslash) for
// a device, whatever its extension and trailing spaces: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-9 and LPT0-9 (and COM/LPT with a superscript 1, 2
// or 3) in any letter case.
bool is_device_name(const char16_t *component, size_t length);

#endif
