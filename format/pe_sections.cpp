// pe_sections.cpp: finds a named section in a PE file's bytes.
#include "pe_sections.h"

#include <string.h>

#include "little_endian.h"

void read_pe_section_header(const unsigned char *entry, PeSectionHeader *header)
{
    size_t length = 0;
    while (length < 8 && entry[length] != 0) {
        length++;
    }
    memcpy(header->name, entry, length);
    header->name[length] = '\0';
    header->virtual_size = read_le32(entry + 8);
    header->virtual_address = read_le32(entry + 12);
    header->raw_size = read_le32(entry + 16);
    header->raw_offset = read_le32(entry + 20);
    header->characteristics = read_le32(entry + 36);
}

bool find_pe_section(const unsigned char *file, uint64_t size, const char *name, PeFileSection *section)
{
    if (size < 0x40) {
        return false;
    }
    const uint64_t pe = read_le32(file + 0x3C);
    if (pe + 24 > size || memcmp(file + pe, "PE\0\0", 4) != 0) {
        return false;
    }
    const uint64_t count = read_le16(file + pe + 6);
    const uint64_t table = pe + 24 + read_le16(file + pe + 20);
    if (table + PE_SECTION_HEADER_SIZE * count > size) {
        return false;
    }
    for (uint64_t i = 0; i < count; i++) {
        PeSectionHeader header;
        read_pe_section_header(file + table + PE_SECTION_HEADER_SIZE * i, &header);
        if (strcmp(header.name, name) == 0) {
            section->header = header;
            section->header_offset = table + PE_SECTION_HEADER_SIZE * i;
            return true;
        }
    }
    return false;
}

bool pe_section_contents_fit(const PeFileSection &section, uint64_t size)
{
    return section.header.virtual_size <= section.header.raw_size &&
           uint64_t{section.header.raw_offset} + section.header.virtual_size <= size;
}
