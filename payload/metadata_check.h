// metadata_check.h: the opt-in fast check of a warm start. After a start that
// checked every file's content, what the file system says about each
// indexed file (size, last-write time, identity) is recorded in a state file
// in the unpack directory; a later start that finds all of it unchanged
// checks no content and decodes nothing. Anything else falls back to the
// content check. Main thread only, with the unpack lock held.
#ifndef ZOBREL_PAYLOAD_METADATA_CHECK_H
#define ZOBREL_PAYLOAD_METADATA_CHECK_H

#include "common/launch_shared.h"
#include "payload/payload_state.h"

// True when the state file names the build's record index and every
// indexed file under its unpack directory still has the recorded size,
// last-write time, volume and file identity (main_binary_from_index then
// gives the program to start). The files' metadata comes from one listing
// per folder; no file is opened. False otherwise: no usable index, no state
// file, one of another build, damaged or cut short, or any file changed,
// missing or replaced.
bool metadata_matches_state(const LaunchShared *launch, IndexCheckState *index);

// Writes the state file for the files as they are now (call it right after
// every file was checked by content or written and checked): written under
// a name of its own, then renamed over the old one through the same handle,
// so that it is never seen half-written; each of the two waits out another
// program's brief hold (payload/brief_hold.h). Never through a link: the
// file written is opened where it is meant to be (payload/target_file.h),
// and a link in the state file's place is replaced, not followed. Does nothing without a usable index; a
// failure leaves the old state file, or none, and is not reported (the next start then checks content, as it
// would anyway).
void record_metadata_state(const LaunchShared *launch, IndexCheckState *index);

#endif
