// packed_file.cpp: finds and rewrites sections of a packed executable's file.
#include "packed_file.h"

#include <gtest/gtest.h>
#include <string.h>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "little_endian.h"

static const unsigned char *bytes(const std::string &image, size_t at)
{
    return reinterpret_cast<const unsigned char *>(image.data()) + at;
}

PackedSection find_section(const std::string &image, const char *name)
{
    PackedSection found = {0, 0, 0, 0};
    if (image.size() < 64) {
        ADD_FAILURE() << "not an image";
        return found;
    }
    const size_t pe = read_le32(bytes(image, 0x3C));
    const size_t count = read_le16(bytes(image, pe + 6));
    const size_t table = pe + 24 + read_le16(bytes(image, pe + 20));
    for (size_t i = 0; i < count; i++) {
        const size_t header = table + 40 * i;
        if (strncmp(image.data() + header, name, 8) == 0) {
            found.header_offset = header;
            found.virtual_size = read_le32(bytes(image, header + 8));
            found.raw_size = read_le32(bytes(image, header + 16));
            found.raw_offset = read_le32(bytes(image, header + 20));
            return found;
        }
    }
    ADD_FAILURE() << "no section " << name;
    return found;
}

void set_virtual_size(std::string &image, const PackedSection &section, uint32_t size)
{
    write_le32(reinterpret_cast<unsigned char *>(&image[section.header_offset + 8]), size);
}

std::vector<ConstantValue> constants_of(const std::string &image)
{
    std::vector<ConstantValue> values;
    const PackedSection info = find_section(image, CONSTANTS_SECTION_NAME);
    const unsigned char *block = bytes(image, info.raw_offset);
    const uint32_t count = read_le32(block + 16);
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char *entry = block + CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * i;
        values.push_back(
            {read_le32(entry), std::string(reinterpret_cast<const char *>(block + read_le32(entry + 4)),
                                           read_le32(entry + 8))});
    }
    return values;
}

void replace_constants(std::string &image, const std::vector<ConstantValue> &values)
{
    const PackedSection info = find_section(image, CONSTANTS_SECTION_NAME);
    const std::string block = write_constants_block(values);
    ASSERT_LE(block.size(), info.raw_size) << "the new constants do not fit the section";
    image.replace(info.raw_offset, info.raw_size, block + std::string(info.raw_size - block.size(), '\0'));
    set_virtual_size(image, info, static_cast<uint32_t>(block.size()));
}

void replace_target_spec(std::string &image, const std::u16string &spec)
{
    std::vector<ConstantValue> values = constants_of(image);
    for (ConstantValue &v : values) {
        if (v.key == CONSTANT_TARGET_SPEC) v.bytes = constant_text(spec);
    }
    replace_constants(image, values);
}

std::vector<IndexEntry> index_of(const std::string &image)
{
    std::vector<IndexEntry> entries;
    for (const ConstantValue &v : constants_of(image)) {
        if (v.key != CONSTANT_RECORD_INDEX) continue;
        const unsigned char *at = reinterpret_cast<const unsigned char *>(v.bytes.data());
        const uint32_t count = read_le32(at);
        at += RECORD_INDEX_HEADER_SIZE;
        for (uint32_t i = 0; i < count; i++) {
            IndexRecord record;
            at = next_index_record(at, &record);
            IndexEntry e;
            for (uint32_t u = 0; u < record.name_length; u++)
                e.name.push_back(read_le16(record.name + 2 * u));
            e.size = record.size;
            e.stored_checksum = record.stored_checksum;
            entries.push_back(e);
        }
    }
    return entries;
}

void replace_index(std::string &image, const std::vector<IndexEntry> &entries)
{
    std::vector<ConstantValue> values = constants_of(image);
    for (ConstantValue &v : values) {
        if (v.key == CONSTANT_RECORD_INDEX) v.bytes = record_index_value(entries);
    }
    replace_constants(image, values);
}
