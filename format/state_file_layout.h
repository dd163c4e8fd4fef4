// state_file_layout.h: the layout of the state file (STATE_FILE_NAME,
// archive_name.h), which a launcher of a build that checks warm starts by
// metadata keeps in its unpack directory: what the file system said about
// each indexed file right after every file was checked. The one reader and
// the one writer, for the launcher, the tests and the fuzz targets.
//
// All integers little-endian:
//
//   offset  size    content
//   0       8       magic "ZOBSTAT1"
//   8       4       N, the number of records of the index it was made for
//   12      4       that index's own CRC-32
//   16      28 * N  per record, in index order: u64 size, u64 last-write time
//                   (FILETIME), u64 file id, u32 volume serial number
//   16+28N  4       CRC-32 (zlib's polynomial) of all before it
//
// Nothing may follow.
#ifndef ZOBREL_FORMAT_STATE_FILE_LAYOUT_H
#define ZOBREL_FORMAT_STATE_FILE_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

// Bytes before the entries, of one entry, and after them.
static const size_t STATE_FILE_HEADER_SIZE = 16;
static const size_t STATE_FILE_ENTRY_SIZE = 28;
static const size_t STATE_FILE_TRAILER_SIZE = 4;

// What the file system said about one indexed file.
struct StateFileEntry {
    uint64_t size;
    uint64_t write_time;
    uint64_t file_id;
    uint32_t volume;
};

// What a whole state file says; the entries point into the bytes it was
// read from.
struct StateFileView {
    uint32_t record_count;
    uint32_t index_crc;
    const unsigned char *entries;  // record_count entries of STATE_FILE_ENTRY_SIZE bytes
};

// Bytes of the state file of an index of `record_count` records.
size_t state_file_size(uint32_t record_count);

// Reads `size` bytes as a state file: true, with *view holding what it says,
// when the magic, the size its count calls for and its CRC-32 all hold.
// False, with *view zeroed, otherwise: another file, damaged, cut short or
// longer. Whether it was made for the caller's index is the caller's to
// compare (record_count, index_crc).
bool check_state_file(const unsigned char *bytes, size_t size, StateFileView *view);

// Entry i (below view.record_count) of a whole state file.
StateFileEntry state_file_entry(const StateFileView &view, uint32_t i);

// The writer, in two steps, so that entries go straight where they belong:
// put each entry i (below the count) into `out`, which holds
// state_file_size(record_count) bytes, then seal it, which writes the magic,
// the count, the index's CRC-32 and the file's own CRC-32 over all of it.
void put_state_file_entry(unsigned char *out, uint32_t i, const StateFileEntry &entry);
void seal_state_file(unsigned char *out, uint32_t record_count, uint32_t index_crc);

#endif
