// pe_reader.cpp: bounds-checked parsing of PE headers and sections.
#include "image/pe_reader.h"

#include <algorithm>
#include <fstream>

#include "base/error.h"
#include "base/text.h"
#include "little_endian.h"
#include "pe_sections.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

using namespace pe32plus;

void read_layout_fields(const unsigned char *optional, uint32_t optional_size, PeImage &image)
{
    image.plus64 = image.optional_magic == OPTIONAL_MAGIC_PE32_PLUS && optional_size >= DATA_DIRECTORIES;
    if (!image.plus64) return;
    image.entry_point = read_le32(optional + ENTRY_POINT);
    image.section_alignment = read_le32(optional + SECTION_ALIGNMENT);
    image.file_alignment = read_le32(optional + FILE_ALIGNMENT);
    image.size_of_image = read_le32(optional + SIZE_OF_IMAGE);
    image.size_of_headers = read_le32(optional + SIZE_OF_HEADERS);
    image.checksum = read_le32(optional + CHECK_SUM);
    image.rva_and_sizes = read_le32(optional + NUMBER_OF_RVA_AND_SIZES);
    const uint32_t room = (optional_size - DATA_DIRECTORIES) / 8;
    image.directories.clear();
    for (uint32_t i = 0; i < std::min(image.rva_and_sizes, room); ++i) {
        const unsigned char *d = optional + DATA_DIRECTORIES + 8 * i;
        image.directories.push_back(PeDataDirectory{read_le32(d), read_le32(d + 4)});
    }
}

bool read_at(std::ifstream &in, uint64_t offset, void *dst, size_t n)
{
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char *>(dst), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n;
}

}  // namespace

std::string parse_pe_headers(const unsigned char *data, uint64_t size, PeImage &image)
{
    image.file_size = size;
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return "it does not start with an MZ header";
    const uint64_t pe = read_le32(data + 0x3C);
    if (pe + 24 > size ||
        !(data[pe] == 'P' && data[pe + 1] == 'E' && data[pe + 2] == 0 && data[pe + 3] == 0)) {
        return "it has no PE signature";
    }
    const unsigned char *head = data + pe;
    image.machine = read_le16(head + 4);
    const uint32_t nsections = read_le16(head + 6);
    const uint32_t optional_size = read_le16(head + 20);
    image.characteristics = read_le16(head + 22);
    const uint64_t optional = pe + 24;
    // The subsystem field sits at offset 68 in both PE32 and PE32+.
    if (optional_size < 70 || optional + optional_size > size)
        return "its optional header is missing or truncated";
    image.optional_magic = read_le16(data + optional);
    image.subsystem = read_le16(data + optional + 68);
    image.pe_offset = static_cast<uint32_t>(pe);
    image.file_header_offset = static_cast<uint32_t>(pe + 4);
    image.optional_header_offset = static_cast<uint32_t>(optional);
    image.optional_header_size = optional_size;
    read_layout_fields(data + optional, optional_size, image);
    // The data directories follow the fields that differ in size between
    // PE32 (96 bytes of them) and PE32+ (112); each is an RVA and a size.
    const uint32_t directories = image.optional_magic == OPTIONAL_MAGIC_PE32_PLUS ? 112 : 96;
    const uint32_t resource_entry = directories + 8 * 2;
    image.resource_rva = image.resource_size = 0;
    if (optional_size >= resource_entry + 8 && read_le32(data + optional + directories - 4) > 2) {
        image.resource_rva = read_le32(data + optional + resource_entry);
        image.resource_size = read_le32(data + optional + resource_entry + 4);
    }
    const uint64_t table = optional + optional_size;
    if (table + PE_SECTION_HEADER_SIZE * nsections > size) return "its section table is truncated";
    image.section_table_offset = static_cast<uint32_t>(table);
    image.sections.clear();
    for (uint32_t i = 0; i < nsections; ++i) {
        PeSectionHeader header;
        read_pe_section_header(data + table + PE_SECTION_HEADER_SIZE * i, &header);
        image.sections.push_back(PeSection{header.name, header.virtual_size, header.virtual_address,
                                           header.raw_size, header.raw_offset, header.characteristics});
    }
    return "";
}

std::string read_pe_headers(const fs::path &file, PeImage &image)
{
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (ec) return "cannot read it: " + ec.message();
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot open it";
    // The headers lie in the first 64 KiB of any image this tool reads.
    std::vector<unsigned char> head(static_cast<size_t>(size < 65536 ? size : 65536));
    if (!read_at(in, 0, head.data(), head.size())) return "cannot read it";
    std::string why = parse_pe_headers(head.data(), head.size(), image);
    image.file_size = size;
    return why;
}

const PeSection *find_section(const PeImage &image, const std::string &name)
{
    for (const PeSection &s : image.sections) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

bool zero_fill_too_large(const PeSection &section)
{
    return section.virtual_size >
           uint64_t{std::min(section.virtual_size, section.raw_size)} + LARGEST_ZERO_FILL;
}

std::vector<unsigned char> read_mapped_section(const fs::path &file, const PeImage &image,
                                               const PeSection &section)
{
    const uint64_t from_file = std::min(section.virtual_size, section.raw_size);
    if (uint64_t{section.raw_offset} + from_file > image.file_size) {
        throw PackError("'" + utf8_path(file) + "' is truncated: its " + section.name +
                        " section runs past the end of the file");
    }
    // A header that claims gigabytes more than the file holds is not read
    // into memory.
    if (zero_fill_too_large(section)) {
        throw PackError("'" + utf8_path(file) + "': its " + section.name + " section is mapped " +
                        std::to_string(section.virtual_size - from_file) +
                        " bytes larger than it is stored, which no packer writes");
    }
    std::vector<unsigned char> bytes(section.virtual_size, 0);
    std::ifstream in(file, std::ios::binary);
    if (!in || !read_at(in, section.raw_offset, bytes.data(), static_cast<size_t>(from_file)))
        throw PackError("cannot read '" + utf8_path(file) + "'");
    return bytes;
}

std::vector<unsigned char> read_section(const fs::path &file, const char *name)
{
    const std::string who = "'" + utf8_path(file) + "'";
    PeImage image;
    std::string why = read_pe_headers(file, image);
    if (!why.empty()) throw PackError(who + " is not a packed executable: " + why);
    const PeSection *sec = find_section(image, name);
    if (!sec) throw PackError(who + " is not a packed executable: it has no " + name + " section");
    return read_mapped_section(file, image, *sec);
}

const char *subsystem_name(uint16_t subsystem)
{
    switch (subsystem) {
    case SUBSYSTEM_WINDOWS:
        return "windows";
    case SUBSYSTEM_CONSOLE:
        return "console";
    case 1:
        return "native";
    case 7:
        return "POSIX";
    case 9:
        return "Windows CE";
    case 10:
    case 11:
    case 12:
    case 13:
        return "EFI";
    case 14:
        return "Xbox";
    case 16:
        return "boot application";
    }
    return "unknown";
}

const PeSection *section_at(const PeImage &image, uint32_t rva)
{
    for (const PeSection &s : image.sections) {
        const uint32_t extent = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
        if (rva >= s.virtual_address && rva - s.virtual_address < extent) return &s;
    }
    return nullptr;
}

std::string read_mapped_section(const fs::path &file, const PeSection &section)
{
    const std::string who = "'" + utf8_path(file) + "'";
    const uint32_t mapped = section.virtual_size != 0 ? section.virtual_size : section.raw_size;
    const uint32_t stored = std::min(mapped, section.raw_size);
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (ec || uint64_t{section.raw_offset} + stored > size) {
        throw PackError(who + " is truncated: its " + section.name +
                        " section runs past the end of the file");
    }
    std::string bytes(stored, '\0');
    std::ifstream in(file, std::ios::binary);
    if (!in || !read_at(in, section.raw_offset, &bytes[0], stored)) throw PackError("cannot read " + who);
    return bytes;
}

}  // namespace zobrel
