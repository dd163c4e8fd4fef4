// archive_model.cpp: parses an archive whole from memory.
#include "archive_model.h"

#include <libdeflate.h>

#include "archive_name.h"
#include "capacities.h"
#include "little_endian.h"
#include "payload_format.h"

bool parse_archive_model(const unsigned char *data, size_t size, std::vector<SeenRecord> &records)
{
    records.clear();
    size_t at = 0;
    for (;;) {
        SeenRecord record;
        for (;;) {
            if (size - at < 2) {
                return false;
            }
            const char16_t unit = static_cast<char16_t>(read_le16(data + at));
            at += 2;
            if (unit == 0) {
                break;
            }
            if (record.name.size() == RECORD_NAME_CAPACITY - 1) {
                return false;
            }
            record.name.push_back(unit);
        }
        if (record.name.empty()) {
            return at == size;  // the end marker, and nothing after it
        }
        if (size - at < RECORD_FIXED_SIZE) {
            return false;
        }
        record.size = read_le64(data + at);
        record.stored_checksum = read_le32(data + at + 8);
        at += RECORD_FIXED_SIZE;
        if (size - at < record.size) {
            return false;
        }
        record.crc = libdeflate_crc32(0, data + at, static_cast<size_t>(record.size));
        at += static_cast<size_t>(record.size);
        records.push_back(record);
    }
}

bool launcher_would_accept(const std::vector<SeenRecord> &records)
{
    for (const SeenRecord &r : records) {
        if (archive_name_problem(r.name.data(), r.name.size()) != NULL ||
            r.stored_checksum != stored_checksum(r.crc)) {
            return false;
        }
    }
    return true;
}
