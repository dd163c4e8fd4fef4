// unpack.h: writes every archive record into the unpack directory, reusing
// files whose CRC-32 already matches.
#ifndef ZOBREL_PAYLOAD_UNPACK_H
#define ZOBREL_PAYLOAD_UNPACK_H

#include <stdint.h>

#include "payload_format.h"

// Reads records through payload_read until the end marker. A record whose
// target's current checksum equals the stored one is left untouched;
// otherwise its parent directories are made and the file is written in full.
// The first record's target path becomes g_main_binary_path (also when it is
// reused); an archive without records leaves it empty.
// Ends the launcher on failure: "Error, failed to open '%ls' for writing.\n"
// (exit 2) when a target cannot be created; "Error, couldn't unpack file to
// target path." with the system error (exit 2) when a write fails or writes
// less than asked; abnormal termination for a name longer than 1023 units or
// a target path longer than 4095.
void unpack_payload();

// The CRC-32 of the file's whole content through a read-only mapping with
// full sharing, with 0 replaced by 1. 0 when the file is absent, cannot be
// opened or mapped, or is empty.
uint32_t current_file_checksum(const wchar_t *path);

#endif
