// pe_reader.h: reads a PE image's headers into a model (the file, DOS and
// PE headers, the optional header's layout fields, data directories and the
// section table), and a section's bytes as the loader maps them. Every
// offset is checked against the image's size.
#ifndef ZOBREL_PACKER_IMAGE_PE_READER_H
#define ZOBREL_PACKER_IMAGE_PE_READER_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zobrel {

const uint16_t MACHINE_AMD64 = 0x8664;
const uint16_t MACHINE_ARM64 = 0xAA64;
const uint16_t SUBSYSTEM_WINDOWS = 2;
const uint16_t SUBSYSTEM_CONSOLE = 3;
const uint16_t CHARACTERISTIC_EXECUTABLE = 0x0002;
const uint16_t CHARACTERISTIC_DLL = 0x2000;
const uint16_t OPTIONAL_MAGIC_PE32_PLUS = 0x20B;
// Data directories that name a file offset, not an address in the image.
const int CERTIFICATE_DIRECTORY = 4;

// Offsets of fields inside a PE32+ optional header.
namespace pe32plus {
const size_t SIZE_OF_INITIALIZED_DATA = 8;
const size_t ENTRY_POINT = 16;
const size_t SECTION_ALIGNMENT = 32;
const size_t FILE_ALIGNMENT = 36;
const size_t SIZE_OF_IMAGE = 56;
const size_t SIZE_OF_HEADERS = 60;
const size_t CHECK_SUM = 64;
const size_t NUMBER_OF_RVA_AND_SIZES = 108;
const size_t DATA_DIRECTORIES = 112;
}  // namespace pe32plus

struct PeSection {
    std::string name;
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
    uint32_t characteristics = 0;
};

struct PeDataDirectory {
    uint32_t address = 0;  // an RVA; a file offset for the certificate table
    uint32_t size = 0;
};

struct PeImage {
    uint64_t file_size = 0;  // of the bytes or the file read
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t optional_magic = 0;
    uint16_t subsystem = 0;
    // Where the headers lie, for a writer.
    uint32_t pe_offset = 0;           // of "PE\0\0" (the DOS header's e_lfanew)
    uint32_t file_header_offset = 0;  // just after "PE\0\0"
    uint32_t optional_header_offset = 0;
    uint32_t optional_header_size = 0;
    uint32_t section_table_offset = 0;
    // The optional header's layout fields; read for a PE32+ image whose
    // optional header holds them (plus64 true), else zero.
    bool plus64 = false;
    uint32_t entry_point = 0;
    uint32_t section_alignment = 0;
    uint32_t file_alignment = 0;
    uint32_t size_of_image = 0;
    uint32_t size_of_headers = 0;
    uint32_t checksum = 0;
    uint32_t rva_and_sizes = 0;  // NumberOfRvaAndSizes, as stored
    // As many directories as NumberOfRvaAndSizes says and the optional header holds.
    std::vector<PeDataDirectory> directories;
    std::vector<PeSection> sections;
    // The resource data directory; 0 and 0 when the image has none.
    uint32_t resource_rva = 0;
    uint32_t resource_size = 0;
};

// Reads the DOS header, PE signature, file header, the subsystem, the
// resource data directory and the section table of an image of `size` bytes at `data`. Returns "" and fills
// image, or says why the bytes are not a PE image.
std::string parse_pe_headers(const unsigned char *data, uint64_t size, PeImage &image);

// The same for a file (its first 64 KiB, where any image's headers lie);
// file_size is the whole file's.
std::string read_pe_headers(const std::filesystem::path &file, PeImage &image);

// The first section of that name, as the launcher finds it; null if none.
const PeSection *find_section(const PeImage &image, const std::string &name);

// The most zero fill past a section's stored bytes that the inspection
// reads (the loader fills the rest of a section's VirtualSize with zeros,
// and the packer stores all of its own sections): a section that claims
// more is refused by read_mapped_section, naming it.
const uint64_t LARGEST_ZERO_FILL = 64ull << 20;
bool zero_fill_too_large(const PeSection &section);

// The VirtualSize bytes of the section as the loader maps it: its raw data,
// then zeros where VirtualSize passes SizeOfRawData. Throws PackError,
// naming the file, when the raw data it needs lies past the file's end.
std::vector<unsigned char> read_mapped_section(const std::filesystem::path &file, const PeImage &image,
                                               const PeSection &section);

// The mapped bytes of a packed executable's section with this name (for the
// payload section, its VirtualSize is the blob length). Throws PackError,
// naming the file, if it is not a PE file, has no such section, or is too
// short to hold it.
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
