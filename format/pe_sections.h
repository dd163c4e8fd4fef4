// pe_sections.h: where a named section lies in the bytes of a PE file: how
// the packer reads an image's section table, and how tests and benchmarks
// find a packed file's payload blob (".zobrel") and build constants
// (".zobinfo"). Every offset is checked against the bytes given. (The
// launcher finds its own sections in its mapped image instead.)
#ifndef ZOBREL_FORMAT_PE_SECTIONS_H
#define ZOBREL_FORMAT_PE_SECTIONS_H

#include <stddef.h>
#include <stdint.h>

// A section header's size in the section table.
static const size_t PE_SECTION_HEADER_SIZE = 40;

// One section header, as stored.
struct PeSectionHeader {
    char name[9];  // up to 8 bytes, then NUL
    uint32_t virtual_size;
    uint32_t virtual_address;
    uint32_t raw_size;    // SizeOfRawData
    uint32_t raw_offset;  // PointerToRawData
    uint32_t characteristics;
};

// Decodes the PE_SECTION_HEADER_SIZE bytes at entry.
void read_pe_section_header(const unsigned char *entry, PeSectionHeader *header);

// A section found in a file, with where its header lies.
struct PeFileSection {
    PeSectionHeader header;
    uint64_t header_offset;  // of its header in the file
};

// Finds the section named `name` (at most 8 bytes) in the file of `size`
// bytes at `file`. False when there is no "PE\0\0" signature where the DOS
// header points, the section table runs past the bytes, or no section has
// that name. Of two sections of one name the first counts, as it does for
// the launcher.
bool find_pe_section(const unsigned char *file, uint64_t size, const char *name, PeFileSection *section);

// True when the section's first VirtualSize bytes (what a packed file keeps
// in its payload and constants sections) lie within its raw data and within
// the file's `size` bytes.
bool pe_section_contents_fit(const PeFileSection &section, uint64_t size);

#endif
