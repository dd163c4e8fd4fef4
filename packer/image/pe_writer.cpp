// pe_writer.cpp: appends sections to a PE32+ image and fixes its headers.
#include "image/pe_writer.h"

#include <algorithm>
#include <fstream>

#include "base/error.h"
#include "base/text.h"
#include "little_endian.h"

namespace zobrel {
namespace {

using namespace pe32plus;

const size_t SECTION_HEADER_SIZE = 40;

// Appended sections start and end on page boundaries in the file too (a
// multiple of any file alignment), so that a loader can map them from the
// file as they are instead of reading them in: a payload is then paged in
// only as far as it is read.
const uint32_t PAGE = 4096;

uint32_t align_up(uint64_t value, uint32_t alignment)
{
    return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

unsigned char *at(std::string &image, size_t offset)
{
    return reinterpret_cast<unsigned char *>(&image[offset]);
}

const unsigned char *at(const std::string &image, size_t offset)
{
    return reinterpret_cast<const unsigned char *>(image.data() + offset);
}

}  // namespace

PeWriter::PeWriter(std::string image) : image_(std::move(image))
{
    std::string why = parse_pe_headers(at(image_, 0), image_.size(), headers_);
    if (!why.empty()) throw PackError("the launcher image is not a PE file: " + why);
    if (!headers_.plus64) throw PackError("the launcher image is not a 64-bit (PE32+) image");
    section_alignment_ = headers_.section_alignment;
    file_alignment_ = headers_.file_alignment;
    size_of_headers_ = headers_.size_of_headers;
    if (section_alignment_ == 0 || file_alignment_ == 0 || size_of_headers_ > image_.size()) {
        throw PackError("the launcher image's alignments or header size are damaged");
    }
    if (headers_.directories.size() > CERTIFICATE_DIRECTORY &&
        headers_.directories[CERTIFICATE_DIRECTORY].size != 0) {
        throw PackError("the launcher image is signed; sections cannot be added to a signed image");
    }
    uint64_t file_end = size_of_headers_;
    uint64_t image_end = size_of_headers_;
    for (const PeSection &s : headers_.sections) {
        if (s.raw_size > 0) {
            if (uint64_t{s.raw_offset} + s.raw_size > image_.size()) {
                throw PackError("the launcher image's section " + s.name + " runs past the end of the file");
            }
            file_end = std::max<uint64_t>(file_end, uint64_t{s.raw_offset} + s.raw_size);
        }
        image_end =
            std::max<uint64_t>(image_end, uint64_t{s.virtual_address} + std::max(s.virtual_size, s.raw_size));
    }
    if (file_end != image_.size()) {
        throw PackError("the launcher image carries data after its last section");
    }
    next_rva_ = align_up(image_end, section_alignment_);
    file_size_ = image_.size();
}

uint32_t PeWriter::next_section_rva() const
{
    return next_rva_;
}

void PeWriter::append_section(const std::string &name, std::string data, uint32_t characteristics)
{
    if (name.size() > 8) throw PackError("section name '" + name + "' is longer than 8 bytes");
    if (data.empty()) throw PackError("section " + name + " would be empty");
    const size_t header = headers_.section_table_offset + SECTION_HEADER_SIZE * headers_.sections.size();
    // The new header must fit before the first byte of section data.
    uint64_t first_data = size_of_headers_;
    for (const PeSection &s : headers_.sections) {
        if (s.raw_size > 0 && s.raw_offset < first_data) first_data = s.raw_offset;
    }
    if (header + SECTION_HEADER_SIZE > first_data) {
        throw PackError("the launcher image has no room for another section header");
    }
    for (size_t i = 0; i < SECTION_HEADER_SIZE; ++i) {
        if (image_[header + i] != '\0') {
            throw PackError("the launcher image has data where another section header would go");
        }
    }

    PeSection section;
    section.name = name;
    section.virtual_size = static_cast<uint32_t>(data.size());
    section.virtual_address = next_rva_;
    section.raw_size = align_up(data.size(), std::max(file_alignment_, PAGE));
    section.raw_offset = align_up(file_size_, std::max(file_alignment_, PAGE));
    section.characteristics = characteristics;

    unsigned char *h = at(image_, header);
    for (size_t i = 0; i < name.size(); ++i) h[i] = static_cast<unsigned char>(name[i]);
    write_le32(h + 8, section.virtual_size);
    write_le32(h + 12, section.virtual_address);
    write_le32(h + 16, section.raw_size);
    write_le32(h + 20, section.raw_offset);
    write_le32(h + 36, characteristics);
    write_le16(at(image_, headers_.file_header_offset + 2),
               static_cast<uint16_t>(headers_.sections.size() + 1));
    // The gap up to the page boundary belongs to what comes before it.
    std::string &before = sections_.empty() ? image_ : sections_.back();
    before.resize(before.size() + (section.raw_offset - file_size_), '\0');
    // Held apart from the headers, so a large payload is never copied.
    sections_.push_back(std::move(data));
    sections_.back().resize(section.raw_size, '\0');
    file_size_ = uint64_t{section.raw_offset} + section.raw_size;
    headers_.sections.push_back(section);

    const size_t optional = headers_.optional_header_offset;
    if (characteristics & 0x00000040) {  // initialized data
        unsigned char *initialized = at(image_, optional + SIZE_OF_INITIALIZED_DATA);
        write_le32(initialized, read_le32(initialized) + section.raw_size);
    }
    next_rva_ = align_up(uint64_t{section.virtual_address} + section.virtual_size, section_alignment_);
    write_le32(at(image_, optional + SIZE_OF_IMAGE), next_rva_);
}

void PeWriter::set_data_directory(int index, uint32_t rva, uint32_t size)
{
    const size_t optional = headers_.optional_header_offset;
    const uint32_t directories = read_le32(at(image_, optional + NUMBER_OF_RVA_AND_SIZES));
    if (index < 0 || static_cast<uint32_t>(index) >= directories ||
        DATA_DIRECTORIES + 8 * (static_cast<size_t>(index) + 1) > headers_.optional_header_size) {
        throw PackError("the launcher image has no data directory " + std::to_string(index));
    }
    write_le32(at(image_, optional + DATA_DIRECTORIES + 8 * index), rva);
    write_le32(at(image_, optional + DATA_DIRECTORIES + 8 * index + 4), size);
}

std::vector<std::string> PeWriter::finish()
{
    std::vector<std::string> pieces;
    pieces.push_back(std::move(image_));
    for (std::string &section : sections_) pieces.push_back(std::move(section));
    const size_t field = headers_.optional_header_offset + CHECK_SUM;
    write_le32(at(pieces[0], field), pe_checksum(pieces, field));
    return pieces;
}

namespace {

// Folds a sum of 16-bit words to 16 bits, carries added back in, as the
// checksum's word-by-word addition does.
uint64_t fold16(uint64_t sum)
{
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

// Adds the bytes' 16-bit little-endian words to the running sum, leaving
// out those in [skip_from, skip_to); a piece of odd length must be the last.
// A 32-bit word is two 16-bit words once folded (2^16 counts as 1), so the
// bulk goes 32 bits at a time, folded now and then to stay in 64 bits.
void add_words(uint64_t &sum, const std::string &bytes, size_t skip_from, size_t skip_to)
{
    const size_t n = bytes.size();
    size_t i = 0;
    uint64_t wide = 0;
    auto add_range = [&](size_t end) {  // [i, end), i and end even
        for (; i + 4 <= end;) {
            const size_t stop = std::min(end - (end - i) % 4, i + (size_t{1} << 30));
            for (; i < stop; i += 4) wide += read_le32(at(bytes, i));
            wide = fold16(wide);
        }
        for (; i + 2 <= end; i += 2) wide += read_le16(at(bytes, i));
    };
    add_range(std::min(skip_from, n - n % 2));
    i = std::max(i, std::min(skip_to, n - n % 2));
    add_range(n - n % 2);
    if (n % 2 != 0) wide += static_cast<unsigned char>(bytes[n - 1]);
    sum = fold16(fold16(sum) + fold16(wide));
}

}  // namespace

uint32_t pe_checksum(const std::vector<std::string> &pieces, size_t checksum_offset)
{
    uint64_t sum = 0;
    uint64_t length = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i == 0) {
            add_words(sum, pieces[i], checksum_offset, checksum_offset + 4);
        } else {
            add_words(sum, pieces[i], 0, 0);
        }
        length += pieces[i].size();
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + length);
}

uint32_t pe_file_checksum(const std::filesystem::path &file, size_t checksum_offset)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) throw PackError("cannot read " + quoted(file));
    uint64_t sum = 0, length = 0;
    std::string piece(size_t{16} << 20, '\0');  // even: words never straddle two pieces
    for (bool first = true;; first = false) {
        in.read(&piece[0], static_cast<std::streamsize>(piece.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        if (n == 0) break;
        piece.resize(n);
        add_words(sum, piece, first ? checksum_offset : 0, first ? checksum_offset + 4 : 0);
        length += n;
        if (!in) break;
    }
    if (in.bad()) throw PackError("cannot read " + quoted(file));
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + length);
}

uint32_t pe_checksum(const std::string &image, size_t checksum_offset)
{
    return pe_checksum(std::vector<std::string>{image}, checksum_offset);
}

}  // namespace zobrel
