// packed_payload.cpp: reads a packed executable's payload blob and build constants back.
#include "inspect/packed_payload.h"

#include "base/error.h"
#include "base/text.h"
#include "build_constants.h"
#include "little_endian.h"
#include "image/pe_reader.h"

namespace fs = std::filesystem;

namespace zobrel {

Payload open_payload(const fs::path &exe)
{
    Payload p;
    p.blob = read_section(exe, PAYLOAD_SECTION_NAME);
    std::string why = check_blob(p.blob.data(), p.blob.size(), p.layout);
    if (!why.empty()) throw PackError("'" + utf8_path(exe) + "': payload damaged: " + why);
    return p;
}

uint64_t read_payload_archive(const fs::path &exe, const Payload &payload, RecordVisitor &visitor)
{
    FrameReader reader(payload.blob.data() + payload.layout.frame_offset, payload.layout.frame_size);
    try {
        return read_archive(reader, visitor);
    } catch (const PackError &e) {
        throw PackError("'" + utf8_path(exe) + "': " + e.what());
    }
}

Constants read_constants(const fs::path &exe)
{
    Constants c;
    std::vector<unsigned char> block;
    try {
        block = read_section(exe, CONSTANTS_SECTION_NAME);
    } catch (const PackError &e) {
        c.problem = e.what();
        return c;
    }
    ConstantsView view;
    switch (check_constants_block(block.data(), block.size(), &view)) {
    case CONSTANTS_LAYOUT_BROKEN:
        c.problem = "its build constants are damaged (their layout does not hold)";
        return c;
    case CONSTANTS_CRC_MISMATCH:
        c.problem = "its build constants are damaged (their CRC-32 does not match)";
        return c;
    case CONSTANTS_WHOLE:
        break;
    }
    c.usable = true;
    for (uint32_t key = 0; key < CONSTANT_KEY_LIMIT; key++) {
        if (view.values[key] != nullptr) {
            c.values[key] = std::string(reinterpret_cast<const char *>(view.values[key]), view.sizes[key]);
        }
    }
    const unsigned char *index = view.values[CONSTANT_RECORD_INDEX];
    if (index == nullptr) {
        c.problem = "it carries no record index";
        return c;
    }
    uint32_t count = 0, records_crc = 0;
    if (!check_record_index(index, view.sizes[CONSTANT_RECORD_INDEX], &count, &records_crc)) {
        c.problem = "its record index is damaged";
        return c;
    }
    c.index = index_entries(index);
    c.has_index = true;
    return c;
}

std::u16string Constants::text(ConstantKey key) const
{
    auto found = values.find(key);
    std::u16string units;
    if (found == values.end()) return units;
    const std::string &bytes = found->second;
    // The checked block ends every text with one 0 unit.
    for (size_t i = 0; i + 3 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(read_le16(reinterpret_cast<const unsigned char *>(bytes.data() + i))));
    }
    return units;
}

uint32_t Constants::number(ConstantKey key, uint32_t absent) const
{
    auto found = values.find(key);
    if (found == values.end() || found->second.size() != 4) return absent;
    return read_le32(reinterpret_cast<const unsigned char *>(found->second.data()));
}

std::string shown(const std::u16string &name)
{
    std::string s;
    utf16_to_utf8(name, s);
    return s;
}

}  // namespace zobrel
