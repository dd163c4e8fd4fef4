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

void replace_target_spec(std::string &image, const std::u16string &spec)
{
    const PackedSection info = find_section(image, CONSTANTS_SECTION_NAME);
    const std::string block = write_constants_block({
        {CONSTANT_TARGET_SPEC, constant_text(spec)},
        {CONSTANT_COMPANY, constant_text(u"MOLTARN LLC")},
        {CONSTANT_PRODUCT, constant_text(u"vexor")},
        {CONSTANT_VERSION, constant_text(u"0.2.0-0.2.0.0")},
        {CONSTANT_FILE_VERSION, constant_text(u"0.2.0.0")},
        {CONSTANT_PRODUCT_VERSION, constant_text(u"0.2.0")},
    });
    ASSERT_LE(block.size(), info.raw_size) << "the new constants do not fit the section";
    image.replace(info.raw_offset, info.raw_size, block + std::string(info.raw_size - block.size(), '\0'));
    set_virtual_size(image, info, static_cast<uint32_t>(block.size()));
}
