// packed_file.h: reads and edits a packed executable's file in memory, for
// tests that need an image the packer would never write: damaged or missing
// build constants, another target specification, a damaged payload header.
#ifndef ZOBREL_TESTS_PACKED_FILE_H
#define ZOBREL_TESTS_PACKED_FILE_H

#include <stdint.h>

#include <string>

struct PackedSection {
    size_t header_offset;  // of its 40-byte section header in the file
    size_t raw_offset;
    uint32_t raw_size;
    uint32_t virtual_size;
};

// The section of that name in the image's bytes; fails the calling test
// (and returns a zeroed record) when there is none.
PackedSection find_section(const std::string &image, const char *name);

// Replaces the constants block by a fresh one with this target
// specification and the example product strings, growing the section's
// VirtualSize within its raw size as needed.
void replace_target_spec(std::string &image, const std::u16string &spec);

// Sets the section's VirtualSize field.
void set_virtual_size(std::string &image, const PackedSection &section, uint32_t size);

#endif
