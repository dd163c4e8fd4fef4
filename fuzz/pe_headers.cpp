// pe_headers.cpp: fuzzes the packer's PE header reader (parse_pe_headers),
// which reads the main program of every folder packed and every executable
// list, verify, info and extract open. An image it accepts must have its
// headers within the bytes, and the shared section finder must find each of
// its sections where it does.
#include <string.h>

#include "fuzz_target.h"
#include "image/pe_reader.h"
#include "pe_sections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zobrel::PeImage image;
    if (!zobrel::parse_pe_headers(data, size, image).empty()) {
        return 0;
    }
    FUZZ_CHECK(uint64_t{image.optional_header_offset} + image.optional_header_size <= size);
    FUZZ_CHECK(image.section_table_offset == image.optional_header_offset + image.optional_header_size);
    FUZZ_CHECK(image.section_table_offset + PE_SECTION_HEADER_SIZE * image.sections.size() <= size);
    for (size_t i = 0; i < image.sections.size(); i++) {
        const zobrel::PeSection &s = image.sections[i];
        FUZZ_CHECK(s.name.size() <= 8 && strlen(s.name.c_str()) == s.name.size());
        bool first_of_name = true;
        for (size_t j = 0; j < i; j++) {
            first_of_name = first_of_name && image.sections[j].name != s.name;
        }
        if (!first_of_name) {
            continue;
        }
        PeFileSection found;
        FUZZ_CHECK(find_pe_section(data, size, s.name.c_str(), &found));
        FUZZ_CHECK(found.header_offset == image.section_table_offset + PE_SECTION_HEADER_SIZE * i);
        FUZZ_CHECK(found.header.virtual_size == s.virtual_size &&
                   found.header.virtual_address == s.virtual_address && found.header.raw_size == s.raw_size &&
                   found.header.raw_offset == s.raw_offset &&
                   found.header.characteristics == s.characteristics);
    }
    return 0;
}
