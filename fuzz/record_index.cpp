// record_index.cpp: fuzzes the record index check (check_record_index),
// which the launcher runs before it trusts the index of its files and the
// packer before it lists or compares one, and the walks over an index it
// accepted (next_index_record, index_entries).
//
// Input: one flags byte, then the index value. Flag 1 repairs its CRC-32
// first, so that records behind a valid checksum are reached.
#include <vector>

#include "build_constants.h"
#include "checksum_repair.h"
#include "fuzz_target.h"
#include "index_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size - 1 > UINT32_MAX) {
        return 0;
    }
    std::vector<unsigned char> index(data + 1, data + size);
    if (data[0] & 1) {
        repair_record_index_crc(index.data(), index.size());
    }
    const uint32_t length = static_cast<uint32_t>(index.size());
    uint32_t count = 0;
    uint32_t records_crc = 0;
    if (check_record_index(index.data(), length, &count, &records_crc)) {
        check_accepted_index(index.data(), length, count, records_crc);
    }
    return 0;
}
