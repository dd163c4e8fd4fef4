// index_invariants.h: what must hold of a record index that
// check_record_index accepted, for each of its readers: the launcher's walk
// over it (next_index_record), the packer's copy of it (index_entries), and
// the one writer, which must give back the same bytes.
#ifndef ZOBREL_FUZZ_INDEX_INVARIANTS_H
#define ZOBREL_FUZZ_INDEX_INVARIANTS_H

#include <stdint.h>

// Aborts when one of them breaks for the index of `size` bytes at index,
// accepted with `count` records and records CRC-32 `records_crc`.
void check_accepted_index(const unsigned char *index, uint32_t size, uint32_t count, uint32_t records_crc);

#endif
