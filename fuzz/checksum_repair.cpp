// checksum_repair.cpp: recomputes the CRC-32s of constants blocks and record indexes.
#include "checksum_repair.h"

#include <libdeflate.h>

#include "build_constants.h"
#include "little_endian.h"

void repair_record_index_crc(unsigned char *index, size_t size)
{
    if (size < RECORD_INDEX_HEADER_SIZE) {
        return;
    }
    write_le32(index + 4,
               libdeflate_crc32(0, index + RECORD_INDEX_HEADER_SIZE, size - RECORD_INDEX_HEADER_SIZE));
}

void repair_constants_crcs(unsigned char *block, size_t size)
{
    if (size < CONSTANTS_HEADER_SIZE) {
        return;
    }
    const uint32_t total = read_le32(block + 8);
    if (total < CONSTANTS_HEADER_SIZE || total > size) {
        return;
    }
    const uint32_t count = read_le32(block + 16);
    for (uint32_t i = 0;
         i < count && CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * (uint64_t{i} + 1) <= total; i++) {
        const ConstantEntry e = read_constant_entry(block, i);
        if (e.key == CONSTANT_RECORD_INDEX && e.offset <= total && e.size <= total - e.offset) {
            repair_record_index_crc(block + e.offset, e.size);
        }
    }
    write_le32(block + 12,
               libdeflate_crc32(0, block + CONSTANTS_CHECKED_FROM, total - CONSTANTS_CHECKED_FROM));
}
