// archive_recipe.cpp: writes the archive a recipe describes.
#include "archive_recipe.h"

#include <stdint.h>

#include <vector>

#include "payload_writer.h"

static const uint64_t CONTENT_LIMIT = uint64_t{8} << 20;

std::string archive_from_recipe(const unsigned char *recipe, size_t size)
{
    std::vector<ArchiveRecord> records;
    uint64_t total = 0;
    for (size_t at = 0; at + 4 <= size; at += 4) {
        const unsigned char a = recipe[at], b = recipe[at + 1], c = recipe[at + 2], f = recipe[at + 3];
        const size_t length = (a + 256u * b) * 64u + f / 4u;
        if (total + length > CONTENT_LIMIT) {
            break;
        }
        total += length;
        ArchiveRecord record;
        const std::string number = std::to_string(records.size());
        record.name = u"f" + std::u16string(number.begin(), number.end());
        if (f & 2) {
            record.content.resize(length);
            uint32_t state = 0x9E3779B9u ^ c;
            for (char &byte : record.content) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                byte = static_cast<char>(state >> 24);
            }
        } else {
            record.content.assign(length, static_cast<char>(c));
        }
        if (f & 1) {
            record.stored_checksum = stored_checksum_of(record.content) ^ 0x5A5A5A5Au;
        }
        records.push_back(record);
    }
    return archive_bytes(records);
}
