// unpack.h: writes every archive record into the unpack directory, reusing
// files whose CRC-32 already matches.
#ifndef ZOBREL_PAYLOAD_UNPACK_H
#define ZOBREL_PAYLOAD_UNPACK_H

#include "payload_format.h"

// Reads records through payload_read until the end marker, then makes sure
// the frame ends there (payload_expect_end). A record whose target's current
// checksum (current_file_checksum) equals the stored one is left untouched;
// otherwise its parent directories are made and the file is written in full
// while the CRC-32 of what is written is taken. The first record's target
// path becomes g_main_binary_path (also when it is reused); an archive
// without records leaves it empty.
//
// Ends the launcher with "Error, couldn't decode attached data." (exit 2)
// when the archive is damaged: a name longer than 1023 units or one that
// breaks the archive-name rule (archive_name.h; refused before anything is
// written for that record), a written file whose CRC-32 differs from the
// stored one (the file stays, and its checksum keeps it from ever being
// reused), or a frame that does not end at the end marker.
// Also ends it with "Error, failed to open '%ls' for writing.\n" (exit 2)
// when a target cannot be created; "Error, couldn't unpack file to target
// path." with the system error (exit 2) when a write fails or writes less
// than asked; abnormal termination for a target path longer than 4095 units.
void unpack_payload();

#endif
