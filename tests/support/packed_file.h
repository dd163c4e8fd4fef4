// packed_file.h: reads and edits a packed executable's file in memory, for
// tests that need an image the packer would never write: damaged or missing
// build constants, another target specification, a damaged payload header.
#ifndef ZOBREL_TESTS_SUPPORT_PACKED_FILE_H
#define ZOBREL_TESTS_SUPPORT_PACKED_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "build_constants_writer.h"

struct PackedSection {
    size_t header_offset;  // of its 40-byte section header in the file
    size_t raw_offset;
    uint32_t raw_size;
    uint32_t virtual_size;
};

// The section of that name in the image's bytes; fails the calling test
// (and returns a zeroed record) when there is none.
PackedSection find_section(const std::string &image, const char *name);

// The values of the image's build constants block, in its order.
std::vector<ConstantValue> constants_of(const std::string &image);

// Replaces the constants block by a fresh one of these values (its CRC-32
// made right), setting the section's VirtualSize to its size; it must fit
// the section's raw size.
void replace_constants(std::string &image, const std::vector<ConstantValue> &values);

// Replaces the target specification among the build constants.
void replace_target_spec(std::string &image, const std::u16string &spec);

// The record index among the build constants, as entries.
std::vector<IndexEntry> index_of(const std::string &image);

// Replaces the record index by one of these entries (with its own CRC-32
// right).
void replace_index(std::string &image, const std::vector<IndexEntry> &entries);

// Replaces the payload section's blob by this one, setting the section's
// VirtualSize to its length; it must fit the section's raw size.
void replace_payload(std::string &image, const std::string &blob);

// Takes the record index out of the build constants.
void remove_index(std::string &image);

// Sets the section's VirtualSize field.
void set_virtual_size(std::string &image, const PackedSection &section, uint32_t size);

#endif
