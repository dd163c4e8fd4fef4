// build_constants.h: the layout of the build-time constants a packed
// launcher carries in an image section of its own, and the names of its two
// sections. The packer writes them (build_constants_writer.h); the launcher
// reads them from its own mapped image at start-up, and the packer's
// inspection reads them back through the same check (below).
//
// Section ".zobrel": the payload blob alone (payload_format.h); the
// section's VirtualSize is the blob length L.
//
// Section ".zobinfo": one block of constants, all integers little-endian,
// offsets from the block's first byte:
//
//   offset  size    content
//   0       8       magic "ZOBINFO1"
//   8       4       T, the block's size in bytes, header included
//   12      4       CRC-32 (zlib's crc32 from 0) of bytes 16 to T
//   16      4       N, the number of entries
//   20      12 * N  entries: u32 key, u32 offset of the value, u32 size of the value in bytes
//   ...             the values, each starting at a multiple of 8, zero bytes between them
//
// Keys of this layout (each at most once; a reader ignores keys it does not know):
//
//   1  target specification   UTF-16LE text and one 0 unit; the size counts the 0 unit
//   2  company                same form
//   3  product                same form
//   4  version                same form
//   5  file version           same form
//   6  product version        same form
//   7  record index           the archive's records in stream order (below); optional
//   8  warm check             u32: how a start checks the files already in the unpack
//                             directory; WarmCheck below; optional, content when absent
//   9  fixed arguments        an argument list (below); optional, none when absent
//   10 environment            an environment list (below); optional, none when absent
//  11  keep builds            u32 N, 0 to KEEP_BUILDS_LIMIT: a start removes the unpack
//                             folders of the product's other builds beside its own but
//                             the N-1 most recently started; 0 as 1, and the start
//                             removes its own folder too once its program has ended;
//                             optional, absent: every folder is kept
//  12  progress               u32: 1 when a first start shows its progress (a line on a
//                             console, a window for the windowed launcher); optional,
//                             absent or 0: a start shows nothing unless it fails
//  13  progress message       text as keys 1 to 6, at most PROGRESS_MESSAGE_LIMIT units
//                             before its 0 unit: unexpanded path-specification text
//                             (spec_keys.h) shown with the progress; optional
//  14  launcher               u32 size in bytes, then u32 CRC-32 (zlib's crc32 from 0),
//                             of the prebuilt launcher image the packer made the
//                             executable from: which launcher its own sections and
//                             headers must still be (verify compares them); optional,
//                             never read by the launcher
//
// The first six are required. Text holds no 0 unit before its last one.
//
// The fixed arguments go, each expanded and quoted, between the main
// program's name and the user's own arguments; the environment is set for
// the main program, each value expanded first (an empty value removes the
// variable). Both are unexpanded path-specification text (spec_keys.h).
// An argument list:
//
//   size  content
//   4     N, the number of arguments
//   then N texts, each UTF-16LE and one 0 unit, no 0 unit before it (an
//   empty argument is the 0 unit alone); together they fill the value exactly
//
// An environment list:
//
//   size  content
//   4     N, the number of variables
//   then N pairs of texts in the form above, together filling the value
//   exactly: the name, which passes the environment-name rule
//   (environment_name.h), then the value, which may be empty
//
// The record index lists what the payload's archive holds, so that a
// launcher can compare the files on disk with it before decoding anything:
//
//   size  content
//   4     N, the number of records
//   4     CRC-32 (zlib's crc32 from 0) of the N records that follow
//   then N records, with no alignment:
//     2       k, the name's length in UTF-16 units, 1 to 1023
//     2 * k   the name, UTF-16LE, the archive's own (no 0 unit)
//     8       the content's size
//     4       the stored checksum, as in the archive
#ifndef ZOBREL_FORMAT_BUILD_CONSTANTS_H
#define ZOBREL_FORMAT_BUILD_CONSTANTS_H

#include <stddef.h>
#include <stdint.h>

static const char PAYLOAD_SECTION_NAME[] = ".zobrel";
static const char CONSTANTS_SECTION_NAME[] = ".zobinfo";

static const unsigned char CONSTANTS_MAGIC[8] = {'Z', 'O', 'B', 'I', 'N', 'F', 'O', '1'};
static const size_t CONSTANTS_HEADER_SIZE = 20;
static const size_t CONSTANTS_ENTRY_SIZE = 12;
static const size_t CONSTANTS_VALUE_ALIGNMENT = 8;
// Bytes from this offset on are covered by the block's CRC-32.
static const size_t CONSTANTS_CHECKED_FROM = 16;

enum ConstantKey {
    CONSTANT_TARGET_SPEC = 1,
    CONSTANT_COMPANY = 2,
    CONSTANT_PRODUCT = 3,
    CONSTANT_VERSION = 4,
    CONSTANT_FILE_VERSION = 5,
    CONSTANT_PRODUCT_VERSION = 6,
    CONSTANT_RECORD_INDEX = 7,
    CONSTANT_WARM_CHECK = 8,
    CONSTANT_FIXED_ARGUMENTS = 9,
    CONSTANT_ENVIRONMENT = 10,
    CONSTANT_KEEP_BUILDS = 11,
    CONSTANT_PROGRESS = 12,
    CONSTANT_PROGRESS_MESSAGE = 13,
    CONSTANT_LAUNCHER = 14,
};

// Bytes of a launcher value (key 14).
static const uint32_t LAUNCHER_STAMP_SIZE = 8;

// The most builds' folders a product may keep: the packer refuses more, the
// launcher takes a larger value as this.
static const uint32_t KEEP_BUILDS_LIMIT = 100;

// The longest progress message, in UTF-16 units before its 0 unit, unexpanded:
// a line on a console, not a text.
static const uint32_t PROGRESS_MESSAGE_LIMIT = 200;

// How a start decides that a file already unpacked is whole.
enum WarmCheck {
    // Its CRC-32 equals the stored checksum, computed at every start.
    WARM_CHECK_CONTENT = 0,
    // Its size, last-write time and identity are those recorded after the
    // last start that checked every file's content; otherwise as above.
    WARM_CHECK_METADATA = 1,
};

static const size_t RECORD_INDEX_HEADER_SIZE = 8;

// The number of text constants every block must hold: keys 1 to 6.
static const unsigned REQUIRED_TEXT_CONSTANTS = 6;

// Keys below this are read; others are skipped.
static const unsigned CONSTANT_KEY_LIMIT = 16;

// A checked block: each known key's value, or null when the block has none.
struct ConstantsView {
    const unsigned char *values[CONSTANT_KEY_LIMIT];
    uint32_t sizes[CONSTANT_KEY_LIMIT];
    uint32_t total_size;  // T
};

// What check_constants_block found.
enum ConstantsCheck {
    CONSTANTS_WHOLE = 0,
    // The structure does not hold (magic, sizes, offsets, keys, texts).
    CONSTANTS_LAYOUT_BROKEN,
    // The structure holds, the CRC-32 over bytes 16 to T does not.
    CONSTANTS_CRC_MISMATCH,
};

// Checks the block within the `available` bytes that follow it and fills the
// view: the magic, T within what is available, every entry's value inside
// the block and aligned, no key twice, keys 1 to 6 present and each a text of
// at least its 0 unit with no 0 unit before its end, keys 9 and 10 when
// present each a list that check_text_list accepts, key 13 when present a
// text of at most PROGRESS_MESSAGE_LIMIT units; then the CRC-32. Stops
// at the first fault. The launcher and the packer's inspection both read
// the block through this, so they accept the same blocks.
ConstantsCheck check_constants_block(const unsigned char *block, size_t available, ConstantsView *view);

// A text constant's units as the block holds them: wchar_t where the launcher
// runs, char16_t in the host tools; both are the same 16-bit units.
#if defined(_WIN32)
typedef wchar_t ConstantUnit;
#else
typedef char16_t ConstantUnit;
#endif

// What a build carries, as decode_build_constants reads it: every key's
// meaning and its limits (above) in one record, each value a view into the
// block or a number, each optional key its default when absent. The packer
// writes the same record from owned data (OwnedBuildConstants,
// build_constants_writer.h).
struct BuildConstants {
    // Keys 1 to 6, NUL-terminated: the unpack directory's specification, such
    // as {CACHE_DIR}\Company\Product\1.0, and the values of the keys COMPANY,
    // PRODUCT, VERSION, FILE_VERSION and PRODUCT_VERSION.
    const ConstantUnit *target_spec;
    const ConstantUnit *company;
    const ConstantUnit *product;
    const ConstantUnit *version;
    const ConstantUnit *file_version;
    const ConstantUnit *product_version;
    // Key 7: the first record of the index (past its header), their count
    // and the index's own CRC-32 (what names this build's list of files).
    // Null and 0 when the block has no index, or one that check_record_index
    // refuses (record_index_damaged): then nothing is known before decoding.
    const unsigned char *record_index;
    uint32_t record_count;
    uint32_t record_index_crc;
    bool record_index_damaged;
    // Key 8: a WarmCheck; WARM_CHECK_CONTENT when absent.
    uint32_t warm_check;
    // Keys 9 and 10, unexpanded: the first NUL-terminated text of each list,
    // the next one right after the previous one's NUL (a variable: its name,
    // then its value, which may be empty), and their counts. Null and 0 when
    // absent or empty.
    const ConstantUnit *fixed_arguments;
    uint32_t fixed_argument_count;
    const ConstantUnit *environment;
    uint32_t environment_count;
    // Key 11: how many builds' unpack folders the product keeps, this one
    // included, 1 to KEEP_BUILDS_LIMIT (a larger value taken as the limit);
    // 0 when the build keeps every folder. A stored 0 keeps none: the build
    // tidies as one that keeps 1 and removes its own folder too once its
    // program has ended (remove_own_folder).
    uint32_t keep_builds;
    bool remove_own_folder;
    // Key 12: non-zero when a first start shows its progress; key 13: the
    // message shown with it, NUL-terminated and unexpanded, null when none.
    uint32_t progress;
    const ConstantUnit *progress_message;
    // Key 14: the launcher value's bytes, null and 0 when absent.
    const unsigned char *launcher;
    uint32_t launcher_size;
};

// check_constants_block, then every key into *constants (zeroed first). A
// number whose value is not 4 bytes counts as absent. The texts point into
// the block, so they are aligned when the block is 2-byte aligned.
ConstantsCheck decode_build_constants(const unsigned char *block, size_t available,
                                      BuildConstants *constants);

// Entry i of a block's entry table, as stored (nothing checked).
struct ConstantEntry {
    uint32_t key;
    uint32_t offset;
    uint32_t size;
};
ConstantEntry read_constant_entry(const unsigned char *block, uint32_t i);

// What a text list holds: arguments (one text each) or environment
// variables (a name and a value each).
enum TextListKind {
    TEXT_LIST_ARGUMENTS,
    TEXT_LIST_ENVIRONMENT,
};

// Checks an argument or environment list value of `size` bytes: the count,
// then exactly as many texts (two per variable) as it says, each of whole
// UTF-16 units ending in its one 0 unit, filling the value to its last byte;
// a variable's name passes environment_name_problem. False at the first
// fault; *count receives N.
bool check_text_list(const unsigned char *list, uint32_t size, TextListKind kind, uint32_t *count);

// The first text of a checked list: its units and 0 unit start at the
// returned pointer, which is 2-byte aligned when the value is.
const unsigned char *first_list_text(const unsigned char *list);

// The text after the one at `text` in a checked list (past its 0 unit).
const unsigned char *next_list_text(const unsigned char *text);

// One record of a record index, as read by next_index_record: the name
// points into the index (k units, little-endian, not terminated).
struct IndexRecord {
    const unsigned char *name;
    uint32_t name_length;
    uint64_t size;
    uint32_t stored_checksum;
};

// Checks a record index value of `size` bytes: N records that fill it
// exactly, each name of 1 to 1023 units that passes the archive-name rule,
// at least one record, and the CRC-32 over the records. False at the first
// fault. *count receives N and *records_crc the CRC-32 (what names this
// build's list of files).
bool check_record_index(const unsigned char *index, uint32_t size, uint32_t *count, uint32_t *records_crc);

// Reads the record at `at` (within a checked index) into *record and returns
// where the next one starts.
const unsigned char *next_index_record(const unsigned char *at, IndexRecord *record);

#endif
