// launcher_identity.cpp: the launcher a packed executable was made from, found and compared byte for byte.
#include "image/launcher_identity.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "base/error.h"
#include "build_constants.h"
#include "image/pe_reader.h"
#include "little_endian.h"

namespace zobrel {
namespace {

const size_t SECTION_HEADER_SIZE = 40;

struct Range {
    uint64_t from, to;
};

// The bytes of a packed image's launcher part that the packer or a signature
// set, by the launcher's own headers (and, for the appended section
// headers, the count the packed image gives).
std::vector<Range> fields_set_after(const PeImage &launcher, const std::string &packed)
{
    using namespace pe32plus;
    const uint64_t optional = launcher.optional_header_offset;
    const uint64_t count_field = launcher.file_header_offset + 2;
    std::vector<Range> set = {
        {count_field, count_field + 2},
        {optional + SIZE_OF_INITIALIZED_DATA, optional + SIZE_OF_INITIALIZED_DATA + 4},
        {optional + SIZE_OF_IMAGE, optional + SIZE_OF_IMAGE + 4},
        {optional + CHECK_SUM, optional + CHECK_SUM + 4},
        {optional + DATA_DIRECTORIES + 8 * 2, optional + DATA_DIRECTORIES + 8 * 3},  // resources
        {optional + DATA_DIRECTORIES + 8 * CERTIFICATE_DIRECTORY,
         optional + DATA_DIRECTORIES + 8 * (CERTIFICATE_DIRECTORY + 1)},
    };
    const uint64_t own_headers_end =
        launcher.section_table_offset + SECTION_HEADER_SIZE * launcher.sections.size();
    uint64_t packed_count = launcher.sections.size();
    if (packed.size() >= count_field + 2) {
        packed_count = read_le16(reinterpret_cast<const unsigned char *>(packed.data() + count_field));
    }
    const uint64_t appended_end = std::min<uint64_t>(
        launcher.section_table_offset + SECTION_HEADER_SIZE * packed_count, launcher.size_of_headers);
    if (appended_end > own_headers_end) set.push_back({own_headers_end, appended_end});
    return set;
}

// Where byte `at` of the launcher lies, for a message.
std::string place_of(const PeImage &launcher, uint64_t at)
{
    if (at < launcher.size_of_headers) return "its headers";
    for (const PeSection &s : launcher.sections) {
        if (s.raw_size > 0 && at >= s.raw_offset && at - s.raw_offset < s.raw_size)
            return "section " + s.name;
    }
    return "the padding between its sections";
}

}  // namespace

std::string launcher_stamp(const std::string &launcher)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(launcher.data()), static_cast<uInt>(launcher.size()));
    unsigned char value[LAUNCHER_STAMP_SIZE];
    write_le32(value, static_cast<uint32_t>(launcher.size()));
    write_le32(value + 4, static_cast<uint32_t>(crc));
    return std::string(reinterpret_cast<const char *>(value), sizeof value);
}

const CarriedLauncher *carried_launcher_of(const std::string &stamp)
{
    if (stamp.size() != LAUNCHER_STAMP_SIZE) return nullptr;
    for (const CarriedLauncher &launcher : carried_launchers()) {
        if (launcher_stamp(launcher.image()) == stamp) return &launcher;
    }
    return nullptr;
}

std::string launcher_part_difference(const std::string &packed, const std::string &launcher)
{
    PeImage model;
    const std::string why =
        parse_pe_headers(reinterpret_cast<const unsigned char *>(launcher.data()), launcher.size(), model);
    if (!why.empty()) throw PackError("a launcher this zobrel-pack carries is not a PE image: " + why);
    std::vector<Range> set = fields_set_after(model, packed);
    std::sort(set.begin(), set.end(), [](const Range &a, const Range &b) { return a.from < b.from; });
    const uint64_t compared = std::min<uint64_t>(packed.size(), launcher.size());
    size_t next = 0;
    for (uint64_t at = 0; at < compared; at++) {
        while (next < set.size() && set[next].to <= at) next++;
        if (next < set.size() && set[next].from <= at) {
            at = set[next].to - 1;
            continue;
        }
        if (packed[at] != launcher[at]) {
            return "byte " + std::to_string(at) + " (in " + place_of(model, at) + ") differs";
        }
    }
    if (packed.size() < launcher.size()) {
        return "the file ends at byte " + std::to_string(packed.size()) + ", inside " +
               place_of(model, packed.size());
    }
    return "";
}

}  // namespace zobrel
