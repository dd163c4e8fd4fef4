// file_checksum.h: the CRC-32 of a file already on disk, read whole in order.
// Plain reads, never a mapping: a file that shrinks or fails to read while it
// is checked must end the check, not the process. Main thread only (one
// static read buffer), except file_matches, which reads through the
// caller's buffer.
#ifndef ZOBREL_PAYLOAD_FILE_CHECKSUM_H
#define ZOBREL_PAYLOAD_FILE_CHECKSUM_H

#include <windows.h>
#include <stdint.h>

// Bytes asked of each ReadFile while checking a file.
static const DWORD FILE_CHECK_READ_SIZE = 1u << 18;

// Reads the open file from its current position to its end and puts zlib's
// CRC-32 of those bytes (started from 0) in *crc. True only when exactly
// `size` bytes came before the end of the file and no read failed; otherwise
// false, and *crc is left as it was. The handle stays open.
bool crc32_of_open_file(HANDLE file, uint64_t size, uint32_t *crc);

// Opens the file for reading with full sharing, so files a running program
// holds open can still be checked, and reads it whole as above. An open that
// another program's brief hold refuses is tried again within the bound
// (payload/brief_hold.h). False when it cannot be opened (absent, a
// directory, no access, held past the bound), its size cannot be had, or it
// cannot be read whole; *crc is then left as it was. An empty file is read
// whole: true, with the CRC-32 of nothing, 0.
bool crc32_of_file(const wchar_t *path, uint32_t *crc);

// The unpacker's current checksum of the file: 0 when it cannot be read
// whole (absent or unreadable counts as no file), otherwise its CRC-32 by the
// stored rule, 0 becoming 1 (an empty file among them).
uint32_t current_file_checksum(const wchar_t *path);

// True when the file can be opened and read whole, holds exactly `size`
// bytes, and its CRC-32 by the stored rule (0 becoming 1) is `stored`. With
// the size known it asks for no size and stops reading at the first byte too
// many: one open (waiting out a brief hold, as above), one read per buffer,
// one close. Reads through `buffer`
// (buffer_size bytes), so that threads can check files side by side.
bool file_matches(const wchar_t *path, uint64_t size, uint32_t stored, unsigned char *buffer,
                  DWORD buffer_size);

#endif
