// pe_sections.cpp: fuzzes the shared PE section finder (find_pe_section and
// pe_section_contents_fit), with the names the packer's inspection, the
// tests and the benchmarks look up. A section it finds must have its header
// within the bytes, and contents said to fit must be readable whole.
#include <string.h>

#include "build_constants.h"
#include "fuzz_target.h"
#include "pe_sections.h"

static volatile unsigned g_sink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const names[] = {PAYLOAD_SECTION_NAME, CONSTANTS_SECTION_NAME, ".rsrc", ".text", ""};
    for (const char *name : names) {
        PeFileSection section;
        if (!find_pe_section(data, size, name, &section)) {
            continue;
        }
        FUZZ_CHECK(section.header_offset + PE_SECTION_HEADER_SIZE <= size);
        PeSectionHeader again;
        read_pe_section_header(data + section.header_offset, &again);
        FUZZ_CHECK(strcmp(again.name, name) == 0);
        if (!pe_section_contents_fit(section, size)) {
            continue;
        }
        // Every byte is read, so that one past the end is an error under ASan.
        const unsigned char *contents = data + section.header.raw_offset;
        for (uint32_t i = 0; i < section.header.virtual_size; i++) {
            g_sink = g_sink + contents[i];
        }
    }
    return 0;
}
