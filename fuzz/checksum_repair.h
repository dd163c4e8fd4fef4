// checksum_repair.h: makes the CRC-32s of a mutated constants block or
// record index hold again, so that a fuzz target also reaches the checks
// behind them (a mutation rarely keeps a CRC-32 right by chance). Only
// checksums whose whole range lies within the bytes are touched.
#ifndef ZOBREL_FUZZ_CHECKSUM_REPAIR_H
#define ZOBREL_FUZZ_CHECKSUM_REPAIR_H

#include <stddef.h>

// Sets a record index value's CRC-32 (bytes 4 to 7) to that of its records.
void repair_record_index_crc(unsigned char *index, size_t size);

// Repairs every record index value (key 7) whose entry and bytes lie within
// the block's stated size T, then the block's own CRC-32 over bytes 16 to T.
void repair_constants_crcs(unsigned char *block, size_t size);

#endif
