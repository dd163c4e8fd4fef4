// archive_model.h: the archive layout read the plain way, whole and from
// memory, and a record as every reader sees it: what the streaming readers
// of the packer and the launcher must agree with, whatever the bytes.
#ifndef ZOBREL_FUZZ_ARCHIVE_MODEL_H
#define ZOBREL_FUZZ_ARCHIVE_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// One record: its name, size and stored checksum, and the CRC-32 of its
// content as read.
struct SeenRecord {
    std::u16string name;
    uint64_t size = 0;
    uint32_t stored_checksum = 0;
    uint32_t crc = 0;

    bool operator==(const SeenRecord &other) const
    {
        return name == other.name && size == other.size && stored_checksum == other.stored_checksum &&
               crc == other.crc;
    }
};

// True when the bytes are one archive: records (names of 1 to 1023 units,
// size, checksum, content), the end marker, and nothing after it; records
// then holds them in order.
bool parse_archive_model(const unsigned char *data, size_t size, std::vector<SeenRecord> &records);

// True when every record passes what the launcher checks while unpacking:
// the archive-name rule, and a stored checksum equal to its content's.
bool launcher_would_accept(const std::vector<SeenRecord> &records);

#endif
