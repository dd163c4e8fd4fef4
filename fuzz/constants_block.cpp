// constants_block.cpp: fuzzes the build constants check
// (check_constants_block), which the launcher runs on its own image at every
// start and the packer on every executable it inspects, and what both then
// read from a block it accepts: the texts, the warm check and the record
// index (check_record_index and the walk over it), and the one decode and
// encode of the build's constants over it.
//
// Input: one flags byte, then the block. Flag 1 repairs the CRC-32s first
// (checksum_repair.h), so that layouts behind a valid checksum are reached.
#include <string.h>

#include <string>
#include <vector>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "checksum_repair.h"
#include "fuzz_target.h"
#include "index_invariants.h"
#include "little_endian.h"

// The value lies in the block after its entry table, at a multiple of 8.
static void check_value_place(const unsigned char *block, const ConstantsView &view, unsigned key)
{
    const size_t offset = static_cast<size_t>(view.values[key] - block);
    const uint32_t count = read_le32(block + 16);
    FUZZ_CHECK(offset >= CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * uint64_t{count});
    FUZZ_CHECK(offset % CONSTANTS_VALUE_ALIGNMENT == 0);
    FUZZ_CHECK(offset <= view.total_size && view.sizes[key] <= view.total_size - offset);
}

// A text constant: whole units, the last one 0 and no other.
static void check_text(const unsigned char *value, uint32_t size)
{
    FUZZ_CHECK(size >= 2 && size % 2 == 0);
    for (uint32_t i = 0; i + 2 < size; i += 2) {
        FUZZ_CHECK(read_le16(value + i) != 0);
    }
    FUZZ_CHECK(read_le16(value + size - 2) == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    std::vector<unsigned char> block(data + 1, data + size);
    if (data[0] & 1) {
        repair_constants_crcs(block.data(), block.size());
    }
    ConstantsView view;
    if (check_constants_block(block.data(), block.size(), &view) != CONSTANTS_WHOLE) {
        return 0;
    }
    FUZZ_CHECK(view.total_size >= CONSTANTS_HEADER_SIZE && view.total_size <= block.size());
    std::vector<ConstantValue> values;
    for (unsigned key = 0; key < CONSTANT_KEY_LIMIT; key++) {
        if (view.values[key] == NULL) {
            FUZZ_CHECK(key < CONSTANT_TARGET_SPEC || key > CONSTANT_PRODUCT_VERSION);
            continue;
        }
        check_value_place(block.data(), view, key);
        if ((key >= CONSTANT_TARGET_SPEC && key <= CONSTANT_PRODUCT_VERSION) ||
            key == CONSTANT_PROGRESS_MESSAGE) {
            check_text(view.values[key], view.sizes[key]);
        }
        if (key == CONSTANT_PROGRESS_MESSAGE) {
            FUZZ_CHECK(view.sizes[key] / 2 - 1 <= PROGRESS_MESSAGE_LIMIT);
        }
        values.push_back(
            {key, std::string(reinterpret_cast<const char *>(view.values[key]), view.sizes[key])});
    }

    // The record index, as the launcher and the packer take it: used when it
    // holds, left out otherwise.
    uint32_t count = 0;
    uint32_t records_crc = 0;
    if (view.values[CONSTANT_RECORD_INDEX] != NULL &&
        check_record_index(view.values[CONSTANT_RECORD_INDEX], view.sizes[CONSTANT_RECORD_INDEX], &count,
                           &records_crc)) {
        check_accepted_index(view.values[CONSTANT_RECORD_INDEX], view.sizes[CONSTANT_RECORD_INDEX], count,
                             records_crc);
    }

    // The one decode: it accepts what the check accepts, its views are the
    // values the check found, and what it reads, written again by the one
    // encode, decodes to the same.
    BuildConstants decoded;
    FUZZ_CHECK(decode_build_constants(block.data(), block.size(), &decoded) == CONSTANTS_WHOLE);
    FUZZ_CHECK(reinterpret_cast<const unsigned char *>(decoded.company) == view.values[CONSTANT_COMPANY]);
    FUZZ_CHECK(reinterpret_cast<const unsigned char *>(decoded.progress_message) ==
               view.values[CONSTANT_PROGRESS_MESSAGE]);
    FUZZ_CHECK(decoded.keep_builds <= KEEP_BUILDS_LIMIT);
    FUZZ_CHECK((decoded.record_index != NULL) == (decoded.record_count != 0));
    FUZZ_CHECK(!(decoded.record_index != NULL && decoded.record_index_damaged));
    const std::string encoded = encode_build_constants(owned_build_constants(decoded));
    BuildConstants redecoded;
    FUZZ_CHECK(decode_build_constants(reinterpret_cast<const unsigned char *>(encoded.data()), encoded.size(),
                                      &redecoded) == CONSTANTS_WHOLE);
    FUZZ_CHECK(encode_build_constants(owned_build_constants(redecoded)) == encoded);
    FUZZ_CHECK(redecoded.record_count == decoded.record_count);
    FUZZ_CHECK(redecoded.keep_builds == decoded.keep_builds);
    FUZZ_CHECK(redecoded.fixed_argument_count == decoded.fixed_argument_count);
    FUZZ_CHECK(redecoded.environment_count == decoded.environment_count);

    // What the block holds, laid out again by the one writer, reads back the same.
    const std::string written = write_constants_block(values);
    ConstantsView again;
    FUZZ_CHECK(check_constants_block(reinterpret_cast<const unsigned char *>(written.data()), written.size(),
                                     &again) == CONSTANTS_WHOLE);
    for (unsigned key = 0; key < CONSTANT_KEY_LIMIT; key++) {
        FUZZ_CHECK((again.values[key] == NULL) == (view.values[key] == NULL));
        FUZZ_CHECK(again.sizes[key] == view.sizes[key]);
        FUZZ_CHECK(view.values[key] == NULL ||
                   memcmp(again.values[key], view.values[key], view.sizes[key]) == 0);
    }
    return 0;
}
