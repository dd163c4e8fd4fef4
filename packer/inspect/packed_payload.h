// packed_payload.h: what list, verify and extract read from a packed
// executable: its payload blob, checked in layout, and its build constants,
// checked as the launcher checks them.
#ifndef ZOBREL_PACKER_INSPECT_PACKED_PAYLOAD_H
#define ZOBREL_PACKER_INSPECT_PACKED_PAYLOAD_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/blob_reader.h"
#include "archive/reader.h"
#include "build_constants.h"
#include "build_constants_writer.h"

namespace zobrel {

struct Payload {
    std::vector<unsigned char> blob;
    BlobLayout layout;
};

// The payload section's blob, its layout checked (check_blob). Throws
// PackError, naming the file, when there is none or it is damaged.
Payload open_payload(const std::filesystem::path &exe);

// Decodes the payload's archive, telling visitor about each record
// (read_archive); returns the number of records. A damaged archive ends in
// a PackError that names exe.
uint64_t read_payload_archive(const std::filesystem::path &exe, const Payload &payload,
                              RecordVisitor &visitor);

// The build constants the launcher reads at start-up, checked by the same
// code (build_constants.h); and their record index, checked likewise.
struct Constants {
    bool usable = false;  // what the launcher needs is there and whole
    std::string problem;  // why not, or why the index is not usable
    bool has_index = false;
    std::vector<IndexEntry> index;
    // When usable: the bytes of each key's value (build_constants.h) that the
    // block holds; a key it does not hold is absent.
    std::map<uint32_t, std::string> values;

    bool has(ConstantKey key) const { return values.count(key) != 0; }
    // A text constant's units without its closing 0 unit ("" when absent).
    std::u16string text(ConstantKey key) const;
    // A u32 constant, or `absent` when the block has none of 4 bytes.
    uint32_t number(ConstantKey key, uint32_t absent) const;
};

// Never throws for a damaged or missing block: says so in `problem`.
Constants read_constants(const std::filesystem::path &exe);

// A record name as UTF-8 for display (an unpaired surrogate shown as U+FFFD).
std::string shown(const std::u16string &name);

}  // namespace zobrel

#endif
