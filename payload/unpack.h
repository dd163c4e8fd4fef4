// unpack.h: writes every archive record into the unpack directory, reusing
// files whose CRC-32 already matches.
#ifndef ZOBREL_PAYLOAD_UNPACK_H
#define ZOBREL_PAYLOAD_UNPACK_H

#include "common/launch_context.h"
#include "common/stage_result.h"

// Reads records through the context's open reader until the end marker, then
// makes sure the frame ends there (payload_expect_end). A record whose file
// the index check found in place, or (without that) whose target's current
// checksum (current_file_checksum) equals the stored one, is left untouched;
// otherwise its parent directories are made (the directory memo, seeded at
// its first use) and the file is written in full while the CRC-32 of what is
// written is taken. The first record's target path becomes the context's
// main binary path (also when it is reused); an archive without records
// leaves it as it was.
//
// Stops at the first failure, leaving every file written so far:
// - FAILURE_DECODE when the archive is damaged: a name longer than 1023
//   units or one that breaks the archive-name rule (archive_name.h; refused
//   before anything is written for that record), a record that disagrees
//   with the record index or an index that lists another number of records,
//   a written file whose CRC-32 differs from the stored one (the file stays,
//   and its checksum keeps it from ever being reused), or a frame that does
//   not end at the end marker;
// - FAILURE_OPEN with the target path (in the context's failed_path) when a
//   target cannot be created;
// - FAILURE_WRITE with the system error when a write fails or writes less
//   than asked;
// - FAILURE_EXPAND ("{HOME}") when the directory memo cannot be seeded.
// A target path longer than 4095 units ends the process abnormally.
StageResult unpack_payload(LaunchContext *context);

#endif
