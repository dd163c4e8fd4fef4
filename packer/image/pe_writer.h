// pe_writer.h: turns the prebuilt launcher image into a packed executable by
// appending sections to it and fixing every header field that depends on
// them. Writes nothing to disk; runs no external program.
#ifndef ZOBREL_PACKER_IMAGE_PE_WRITER_H
#define ZOBREL_PACKER_IMAGE_PE_WRITER_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/pe_reader.h"

namespace zobrel {

// Section flags: initialized data, readable (and nothing else).
const uint32_t READ_ONLY_DATA_SECTION = 0x40000040;

const int RESOURCE_DIRECTORY = 2;

class PeWriter {
public:
    // Takes a PE32+ executable image. Throws PackError if it is not one, if
    // it carries data after its last section (a signature, say), or if its
    // sections overlap what the headers say.
    explicit PeWriter(std::string image);

    // The relative virtual address the next appended section will have.
    uint32_t next_section_rva() const;

    // Appends a section holding exactly `data` (its VirtualSize is the data's
    // size; the raw data is zero-padded to the file alignment), mapped at
    // next_section_rva(). Throws PackError if the headers have no room for
    // another section header, the name is longer than 8 bytes or the data
    // is empty.
    void append_section(const std::string &name, std::string data, uint32_t characteristics);

    // Points data directory `index` (RESOURCE_DIRECTORY, ...) at rva and size.
    void set_data_directory(int index, uint32_t rva, uint32_t size);

    // The finished image, as pieces to be written one after another: the
    // headers and the launcher's own sections, then each appended section,
    // padded. Section count, image size, initialized-data size and the
    // optional header's checksum agree with them. The writer is spent
    // afterwards.
    std::vector<std::string> finish();

private:
    std::string image_;                  // headers and the launcher's own sections
    std::vector<std::string> sections_;  // appended sections, padded
    uint64_t file_size_ = 0;
    PeImage headers_;
    uint32_t section_alignment_ = 0;
    uint32_t file_alignment_ = 0;
    uint32_t size_of_headers_ = 0;
    uint32_t next_rva_ = 0;
};

// The optional header's CheckSum of an image, computed the way the
// platform's linker and image loader do: the 16-bit one's-complement-style
// sum of the whole file with the checksum field taken as zero, folded to 16
// bits, plus the file's length.
uint32_t pe_checksum(const std::string &image, size_t checksum_offset);

// The same over an image given as pieces (each but the last of even length;
// the checksum field lies in the first).
uint32_t pe_checksum(const std::vector<std::string> &pieces, size_t checksum_offset);

// The same over a file, read a piece at a time. Throws PackError, naming the
// file, when it cannot be read.
uint32_t pe_file_checksum(const std::filesystem::path &file, size_t checksum_offset);

}  // namespace zobrel

#endif
