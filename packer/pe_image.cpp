// pe_image.cpp: bounds-checked parsing of PE headers and the payload section.
#include "pe_image.h"

#include <fstream>

#include "error.h"
#include "little_endian.h"

namespace fs = std::filesystem;

namespace zobrel {

const char kPayloadSection[] = ".zobrel";

namespace {

bool read_at(std::ifstream &in, uint64_t offset, void *dst, size_t n)
{
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char *>(dst), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n;
}

}  // namespace

std::string read_pe_headers(const fs::path &file, PeImage &image)
{
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (ec) return "cannot read it: " + ec.message();
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot open it";
    unsigned char dos[64];
    if (size < sizeof dos || !read_at(in, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return "it does not start with an MZ header";
    }
    const uint64_t pe = read_le32(dos + 0x3C);
    unsigned char head[24];
    if (pe + sizeof head > size || !read_at(in, pe, head, sizeof head) ||
        !(head[0] == 'P' && head[1] == 'E' && head[2] == 0 && head[3] == 0)) {
        return "it has no PE signature";
    }
    image.machine = static_cast<uint16_t>(read_le16(head + 4));
    const uint32_t nsections = read_le16(head + 6);
    const uint32_t optional_size = read_le16(head + 20);
    const uint64_t optional = pe + sizeof head;
    // The subsystem field sits at offset 68 in both PE32 and PE32+.
    if (optional_size < 70 || optional + optional_size > size)
        return "its optional header is missing or truncated";
    unsigned char sub[2];
    if (!read_at(in, optional + 68, sub, 2)) return "its optional header is truncated";
    image.subsystem = static_cast<uint16_t>(read_le16(sub));
    const uint64_t table = optional + optional_size;
    if (table + uint64_t{40} * nsections > size) return "its section table is truncated";
    image.sections.clear();
    for (uint32_t i = 0; i < nsections; ++i) {
        unsigned char s[40];
        if (!read_at(in, table + uint64_t{40} * i, s, sizeof s)) return "its section table is truncated";
        PeSection sec;
        size_t len = 0;
        while (len < 8 && s[len] != 0) ++len;
        sec.name.assign(reinterpret_cast<const char *>(s), len);
        sec.virtual_size = read_le32(s + 8);
        sec.virtual_address = read_le32(s + 12);
        sec.raw_size = read_le32(s + 16);
        sec.raw_offset = read_le32(s + 20);
        image.sections.push_back(sec);
    }
    return "";
}

std::vector<unsigned char> read_payload_section(const fs::path &file)
{
    const std::string who = "'" + file.string() + "'";
    PeImage image;
    std::string why = read_pe_headers(file, image);
    if (!why.empty()) throw PackError(who + " is not a packed executable: " + why);
    const PeSection *sec = nullptr;
    for (const PeSection &s : image.sections) {
        if (s.name == kPayloadSection) sec = &s;
    }
    if (!sec) throw PackError(who + " is not a packed executable: it has no " + kPayloadSection + " section");
    if (sec->virtual_size > sec->raw_size) {
        throw PackError(who + ": its " + kPayloadSection +
                        " section is shorter in the file than in memory (damaged)");
    }
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (ec || uint64_t{sec->raw_offset} + sec->virtual_size > size) {
        throw PackError(who + " is truncated: its payload section runs past the end of the file");
    }
    std::vector<unsigned char> blob(sec->virtual_size);
    std::ifstream in(file, std::ios::binary);
    if (!in || !read_at(in, sec->raw_offset, blob.data(), blob.size())) throw PackError("cannot read " + who);
    return blob;
}

}  // namespace zobrel
