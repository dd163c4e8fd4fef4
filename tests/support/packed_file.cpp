// packed_file.cpp: finds and rewrites sections of a packed executable's file.
#include "packed_file.h"

#include <gtest/gtest.h>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "little_endian.h"
#include "pe_sections.h"

static const unsigned char *bytes(const std::string &image, size_t at)
{
    return reinterpret_cast<const unsigned char *>(image.data()) + at;
}

PackedSection find_section(const std::string &image, const char *name)
{
    PackedSection found = {0, 0, 0, 0};
    PeFileSection section;
    if (!find_pe_section(bytes(image, 0), image.size(), name, &section)) {
        ADD_FAILURE() << "no section " << name;
        return found;
    }
    found.header_offset = static_cast<size_t>(section.header_offset);
    found.raw_offset = section.header.raw_offset;
    found.raw_size = section.header.raw_size;
    found.virtual_size = section.header.virtual_size;
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
        const ConstantEntry entry = read_constant_entry(block, i);
        values.push_back(
            {entry.key, std::string(reinterpret_cast<const char *>(block + entry.offset), entry.size)});
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
    for (const ConstantValue &v : constants_of(image)) {
        if (v.key == CONSTANT_RECORD_INDEX)
            return index_entries(reinterpret_cast<const unsigned char *>(v.bytes.data()));
    }
    return {};
}

void replace_index(std::string &image, const std::vector<IndexEntry> &entries)
{
    std::vector<ConstantValue> values = constants_of(image);
    for (ConstantValue &v : values) {
        if (v.key == CONSTANT_RECORD_INDEX) v.bytes = record_index_value(entries);
    }
    replace_constants(image, values);
}

void replace_payload(std::string &image, const std::string &blob)
{
    const PackedSection payload = find_section(image, PAYLOAD_SECTION_NAME);
    ASSERT_LE(blob.size(), payload.raw_size) << "the new payload does not fit the section";
    image.replace(payload.raw_offset, payload.raw_size,
                  blob + std::string(payload.raw_size - blob.size(), '\0'));
    set_virtual_size(image, payload, static_cast<uint32_t>(blob.size()));
}

void remove_index(std::string &image)
{
    std::vector<ConstantValue> values;
    for (const ConstantValue &v : constants_of(image)) {
        if (v.key != CONSTANT_RECORD_INDEX) values.push_back(v);
    }
    replace_constants(image, values);
}
