// build_info.h: the constants a packed launcher is built with (target
// specification, product information, payload blob), found at start-up in
// sections of the launcher's own image. Read-only once loaded.
#ifndef ZOBREL_COMMON_BUILD_INFO_H
#define ZOBREL_COMMON_BUILD_INFO_H

#include <stddef.h>

struct BuildInfo {
    // NUL-terminated UTF-16: the unpack directory's specification, such as
    // {CACHE_DIR}\Company\Product\1.0, and the values of the keys COMPANY,
    // PRODUCT, VERSION, FILE_VERSION and PRODUCT_VERSION.
    const wchar_t *target_spec;
    const wchar_t *company;
    const wchar_t *product;
    const wchar_t *version;
    const wchar_t *file_version;
    const wchar_t *product_version;
    // The payload blob where it lies in the image, and its length L.
    const unsigned char *payload_blob;
    unsigned long long payload_length;
    // The record index (build_constants.h): the archive's records in stream
    // order, with their count. Null and 0 when the image has none, or one
    // that fails its layout or its own CRC-32: then nothing is known before
    // decoding.
    const unsigned char *record_index;
    unsigned long record_count;
    // The index's own CRC-32: what names this build's list of files.
    unsigned long record_index_crc;
    // How a start checks files already unpacked: a WarmCheck.
    unsigned long warm_check;
    // How many builds' unpack folders the product keeps, this one included
    // (1 to KEEP_BUILDS_LIMIT); 0 when the build keeps every folder. A build
    // that keeps none tidies as one that keeps 1, and removes its own
    // folder too once its program has ended (remove_own_folder).
    unsigned long keep_builds;
    bool remove_own_folder;
    // Whether a first start shows its progress (non-zero) and the message
    // shown with it, NUL-terminated and unexpanded; null when none.
    unsigned long progress;
    const wchar_t *progress_message;
    // The child's fixed arguments and its variables (build_constants.h),
    // unexpanded: the first NUL-terminated text of each list, the next one
    // right after the previous one's NUL (a variable: its name, then its
    // value, which may be empty), and their counts. Null and 0 for a build
    // without them.
    const wchar_t *fixed_arguments;
    unsigned long fixed_argument_count;
    const wchar_t *environment;
    unsigned long environment_count;
};

// Finds the payload section and the constants section in the launcher's own
// image, checks the constants block (its layout and its CRC-32) and points
// *build into them. False, leaving *build untouched, when either section is
// missing, the payload section is shorter than the payload header, or the
// block is damaged. A record index that does not hold is left out
// (record_index null), not a failure.
bool load_build_info(BuildInfo *build);

// The same from a constants block and a payload blob found elsewhere (in a
// packed file a harness mapped): false, *build untouched, when the blob is
// shorter than the payload header or the block is damaged.
bool read_build_info(const unsigned char *block, size_t block_size, const unsigned char *blob,
                     size_t blob_size, BuildInfo *build);

#endif
