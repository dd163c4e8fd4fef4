// build_constants_writer.h: lays out a build constants block and its record
// index (build_constants.h). The one writer of that layout, shared by the
// packer and the tests that make images; the launcher only reads it.
#ifndef ZOBREL_FORMAT_BUILD_CONSTANTS_WRITER_H
#define ZOBREL_FORMAT_BUILD_CONSTANTS_WRITER_H

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "build_constants.h"

struct ConstantValue {
    uint32_t key;
    std::string bytes;
};

// The block: header, one entry per value in the order given, the values each
// at a multiple of 8 with zero bytes between them, and the CRC-32 over bytes
// 16 to the end. Keys are not checked here.
std::string write_constants_block(const std::vector<ConstantValue> &values);

// A text constant's bytes: the UTF-16 units little-endian, then one 0 unit.
std::string constant_text(const std::u16string &text);

// An argument list value (build_constants.h): the count, then each text
// with its 0 unit. Texts are not checked here.
std::string argument_list_value(const std::vector<std::u16string> &arguments);

struct EnvironmentEntry {
    std::u16string name;
    std::u16string value;  // empty: the variable is removed
};

// An environment list value: the count, then each name and value. Names
// are not checked here.
std::string environment_list_value(const std::vector<EnvironmentEntry> &variables);

// Every text of a list value of `size` bytes that check_text_list accepted,
// in order (for an environment list: a name, its value, the next name, ...).
std::vector<std::u16string> list_texts(const unsigned char *list, uint32_t size);

struct IndexEntry {
    std::u16string name;
    uint64_t size;
    uint32_t stored_checksum;
};

// A record index value: the count, the CRC-32 of the records, the records.
std::string record_index_value(const std::vector<IndexEntry> &records);

// The records of an index value that check_record_index accepted, back as
// entries: for tools that show an index or compare it with an archive.
std::vector<IndexEntry> index_entries(const unsigned char *index);

// BuildConstants as owned data, field for field: what the packer writes and
// what its inspection reads back. An optional key left at its default is
// not written, so a build that does not ask for it stays as it was.
struct OwnedBuildConstants {
    std::u16string target_spec;
    std::u16string company;
    std::u16string product;
    std::u16string version;
    std::u16string file_version;
    std::u16string product_version;
    // Always written (an index of no record is one a reader refuses); read
    // back empty when the block has no index or a damaged one.
    std::vector<IndexEntry> records;
    uint32_t warm_check = WARM_CHECK_CONTENT;  // always written
    std::vector<std::u16string> fixed_arguments;
    std::vector<EnvironmentEntry> environment;
    std::optional<uint32_t> keep_builds;
    bool progress = false;
    std::u16string progress_message;
    std::optional<std::string> launcher;  // launcher_stamp's bytes
};

// The block (write_constants_block) holding those keys, in key order.
std::string encode_build_constants(const OwnedBuildConstants &constants);

// The decoded record's values as owned data (a keep_builds of 0 as none).
OwnedBuildConstants owned_build_constants(const BuildConstants &constants);

#endif
