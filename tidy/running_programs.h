// running_programs.h: whether a running program was started from a folder.
//
// A program started from an unpack folder without inheriting its launcher's
// handles holds neither the folder's marker nor its claim
// (tidy/build_marker.h, payload/unpack_lock.h). On Windows its running image
// still keeps the folder from being renamed, but Wine does not lock running
// images, so the processes are asked where their images are.
#ifndef ZOBREL_TIDY_RUNNING_PROGRAMS_H
#define ZOBREL_TIDY_RUNNING_PROGRAMS_H

#include <windows.h>

// True when a process other than this one runs an image under `folder` (a
// full path; any "\\?\" prefix aside, compared with the image's path as the
// system gives it, without regard to case), or when the processes cannot be
// listed: in doubt, a folder counts as in use. A process whose image path
// cannot be had (another user's, protected) is not counted: its folder is
// none of this user's unpack folders, or on Windows its image keeps the
// folder from being renamed anyway. A folder spelt otherwise than its
// programs were started (a short name, another drive letter for it) is not
// recognised either; Windows' lock on the images is all that keeps it then.
bool program_runs_from(const wchar_t *folder);

#endif
