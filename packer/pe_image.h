// pe_image.h: reads the headers of a PE file and the payload section of a packed executable.
#ifndef ZOBREL_PACKER_PE_IMAGE_H
#define ZOBREL_PACKER_PE_IMAGE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zobrel {

// The section that holds the payload blob alone; its VirtualSize is L.
extern const char kPayloadSection[];

const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kSubsystemConsole = 3;

struct PeSection {
    std::string name;
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
};

struct PeImage {
    uint16_t machine = 0;
    uint16_t subsystem = 0;
    std::vector<PeSection> sections;
};

// Reads the DOS header, PE signature, file header, optional header and
// section table, checking every offset against the file's size. Returns ""
// and fills image, or says why the file is not a PE executable.
std::string read_pe_headers(const std::filesystem::path &file, PeImage &image);

// The payload blob of a packed executable: the bytes of its payload section.
// Throws PackError, naming the file, if it is not a PE file, has no payload
// section, or is too short to hold it.
std::vector<unsigned char> read_payload_section(const std::filesystem::path &file);

}  // namespace zobrel

#endif
