// index_invariants.cpp: checks an accepted record index against all its readers and its writer.
#include "index_invariants.h"

#include <string.h>

#include <string>
#include <vector>

#include "archive_name.h"
#include "build_constants.h"
#include "build_constants_writer.h"
#include "capacities.h"
#include "fuzz_target.h"
#include "little_endian.h"

void check_accepted_index(const unsigned char *index, uint32_t size, uint32_t count, uint32_t records_crc)
{
    FUZZ_CHECK(count > 0);
    FUZZ_CHECK(records_crc == read_le32(index + 4));
    // The launcher keeps where each record starts and walks from the first.
    const unsigned char *at = index + RECORD_INDEX_HEADER_SIZE;
    const unsigned char *end = index + size;
    for (uint32_t i = 0; i < count; i++) {
        FUZZ_CHECK(end - at >= 2);
        IndexRecord record;
        const unsigned char *next = next_index_record(at, &record);
        FUZZ_CHECK(record.name == at + 2);
        FUZZ_CHECK(record.name_length >= 1 && record.name_length <= RECORD_NAME_CAPACITY - 1);
        FUZZ_CHECK(next > at && next <= end);
        char16_t name[RECORD_NAME_CAPACITY];
        for (uint32_t u = 0; u < record.name_length; u++) {
            name[u] = static_cast<char16_t>(read_le16(record.name + 2 * u));
        }
        FUZZ_CHECK(archive_name_problem(name, record.name_length) == NULL);
        at = next;
    }
    FUZZ_CHECK(at == end);

    // The packer's copy, written again by the one writer, is the same value.
    const std::vector<IndexEntry> entries = index_entries(index);
    FUZZ_CHECK(entries.size() == count);
    const std::string written = record_index_value(entries);
    FUZZ_CHECK(written.size() == size && memcmp(written.data(), index, size) == 0);
}
