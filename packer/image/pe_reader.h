// pe_reader.h: reads the headers of a PE image and the sections of a packed
// executable. Every offset is checked against the image's size.
#ifndef ZOBREL_PACKER_PE_IMAGE_H
#define ZOBREL_PACKER_PE_IMAGE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zobrel {

const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kSubsystemWindows = 2;
const uint16_t kSubsystemConsole = 3;
const uint16_t kCharacteristicExecutable = 0x0002;
const uint16_t kCharacteristicDll = 0x2000;
const uint16_t kOptionalMagicPe32Plus = 0x20B;

struct PeSection {
    std::string name;
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
    uint32_t characteristics = 0;
};

struct PeImage {
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t optional_magic = 0;
    uint16_t subsystem = 0;
    // Where the headers lie, for a writer.
    uint32_t file_header_offset = 0;  // just after "PE\0\0"
    uint32_t optional_header_offset = 0;
    uint32_t optional_header_size = 0;
    uint32_t section_table_offset = 0;
    std::vector<PeSection> sections;
    // The resource data directory; 0 and 0 when the image has none.
    uint32_t resource_rva = 0;
    uint32_t resource_size = 0;
};

// Reads the DOS header, PE signature, file header, the subsystem, the
// resource data directory and the section table of an image of `size` bytes at `data`. Returns "" and fills
// image, or says why the bytes are not a PE image.
std::string parse_pe_headers(const unsigned char *data, uint64_t size, PeImage &image);

// The same for a file's first bytes.
std::string read_pe_headers(const std::filesystem::path &file, PeImage &image);

// The bytes of a packed executable's section with this name (its VirtualSize
// of them, which for the payload section is the blob length); of two
// sections of that name the first, as the launcher reads it. Throws
// PackError, naming the file, if it is not a PE file, has no such section,
// or is too short to hold it.
std::vector<unsigned char> read_section(const std::filesystem::path &file, const char *name);

// The subsystem's name: "windows" (GUI), "console", or what else it is
// ("native", "EFI", ..., "unknown").
const char *subsystem_name(uint16_t subsystem);

// The section of the image that maps this relative virtual address, or null.
const PeSection *section_at(const PeImage &image, uint32_t rva);

// The bytes of one of the file's sections that the file holds: its raw
// data, at most its VirtualSize of it (what lies beyond in memory is zeros).
// Throws PackError, naming the file, when the raw data runs past the end of
// the file or cannot be read.
std::string read_mapped_section(const std::filesystem::path &file, const PeSection &section);

}  // namespace zobrel

#endif
