// unpack.h: writes every archive record into the unpack directory, reusing
// files whose CRC-32 already matches.
#ifndef ZOBREL_PAYLOAD_UNPACK_H
#define ZOBREL_PAYLOAD_UNPACK_H

#include "common/launch_shared.h"
#include "common/stage_result.h"
#include "payload/payload_state.h"

// Reads records through the payload's open reader until the end marker, then
// makes sure the frame ends there (payload_expect_end). A record whose file
// the index check found in place, or (without that) whose target's current
// checksum (current_file_checksum) equals the stored one, is left untouched;
// otherwise its folders are made and checked (ensure_folders_in_unpack_directory),
// the file is opened where it is meant to be (open_target_file, payload/target_file.h),
// and written in full while the CRC-32 of what is written is taken. The
// first record's target path becomes the launch's main binary path (also
// when it is reused); an archive without records leaves it as it was. With
// the unpack directory's lock held and its unpack root resolved.
//
// Stops at the first failure, leaving every file written so far:
// - FAILURE_DECODE when the archive is damaged: a name longer than 1023
//   units or one that breaks the archive-name rule (archive_name.h; refused
//   before anything is written for that record), a record that disagrees
//   with the record index or an index that lists another number of records,
//   a written file whose CRC-32 differs from the stored one (the file stays,
//   and its checksum keeps it from ever being reused), a frame that does
//   not end at the end marker, or a target that opens a file this unpack
//   already wrote under another name (same volume and file index; nothing is
//   written to it);
// - FAILURE_OPEN with the target path (in the launch's failed_path) when a
//   target cannot be created, also after waiting out another program's
//   hold on it up to the bound (payload/brief_hold.h), or when it, or a
//   folder on its way, is not where it is meant to be (a link to elsewhere,
//   another file's name): nothing is then written through it;
// - FAILURE_WRITE with the system error when a write fails or writes less
//   than asked;
// - FAILURE_MEMORY when the table of the files written cannot be had.
// A target path longer than 4095 units ends the process abnormally.
StageResult unpack_payload(LaunchShared *launch, PayloadStage *payload);

#endif
