// payload_format.h: the byte layout of the payload blob and of the archive inside it.
// The launcher reads this layout and the packer writes it (payload_writer.h,
// the one writer, which the tests and benchmarks share); both include this
// header so that the two sides cannot drift apart.
//
// Payload blob (all integers little-endian; L = blob length, header included):
//
//   offset   size  content
//   0        2     magic "QJ"
//   2        1     mode byte "Y"
//   3        F     exactly one zstd frame, whose decoded output is the archive
//   3 + F    P     zero bytes, so that the length record starts at a multiple of 16
//   L - 8    8     length record: u64, the number of blob bytes in front of it (L - 8)
//
// Archive (the frame's decoded output): records, then the end marker, with no
// alignment and no gaps.
//
//   name      k >= 1 UTF-16LE code units, then one 0 unit; relative path,
//             components separated by backslashes, k <= 1023
//   size      u64, content length in bytes
//   checksum  u32, zlib crc32 of the content started from 0; content whose
//             CRC-32 is 0 is stored as 1, since 0 means "no file" to the unpacker
//   content   size bytes
//
//   end marker: a single 0 code unit where the next name would begin; it is the
//   last thing the frame decodes to.
//
// The first record is the main binary, the program the launcher starts.
#ifndef ZOBREL_FORMAT_PAYLOAD_FORMAT_H
#define ZOBREL_FORMAT_PAYLOAD_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#include "capacities.h"

static const unsigned char PAYLOAD_MAGIC[3] = {'Q', 'J', 'Y'};
static const size_t PAYLOAD_HEADER_SIZE = 3;
static const size_t PAYLOAD_LENGTH_RECORD_SIZE = 8;
static const size_t PAYLOAD_LENGTH_RECORD_ALIGNMENT = 16;

// A record's fields after its name: the size (u64) and the checksum (u32).
static const size_t RECORD_FIXED_SIZE = 12;
// The end marker: one 0 code unit.
static const size_t ARCHIVE_END_MARKER_SIZE = 2;

// The largest zstd window the launcher's decoder accepts with default parameters.
static const unsigned PAYLOAD_MAX_WINDOW_LOG = 27;

// Decoded output passes through one window of this many bytes.
static const size_t DECODE_WINDOW_SIZE = 131072;

// Record content moves between the stream and the file in chunks of this size.
static const size_t CONTENT_CHUNK_SIZE = 32768;

// The checksum a record stores for content whose CRC-32 is crc, and the
// current checksum the unpacker gives an existing file with that CRC-32: the
// unpacker counts a missing file as 0, so content whose CRC-32 is 0 (every
// empty file among it) is stored, and found, as 1.
inline uint32_t stored_checksum(uint32_t crc)
{
    return crc == 0 ? 1 : crc;
}

// The zero bytes P after a frame of frame_size bytes: as few as put the
// length record at a multiple of 16 from the blob's start.
inline uint64_t payload_padding(uint64_t frame_size)
{
    const uint64_t end = PAYLOAD_HEADER_SIZE + frame_size;
    return (PAYLOAD_LENGTH_RECORD_ALIGNMENT - end % PAYLOAD_LENGTH_RECORD_ALIGNMENT) %
           PAYLOAD_LENGTH_RECORD_ALIGNMENT;
}

// The bytes one record takes in the archive: its name of name_units units
// and the 0 unit, the size, the checksum and the content.
inline uint64_t archive_record_size(uint64_t name_units, uint64_t content_size)
{
    return 2 * (name_units + 1) + RECORD_FIXED_SIZE + content_size;
}

#endif
