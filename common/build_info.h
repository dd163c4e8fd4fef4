// build_info.h: the constants a packed launcher is built with (target
// specification, product information, payload blob), found at start-up in
// sections of the launcher's own image. Read-only once loaded.
#ifndef ZOBREL_COMMON_BUILD_INFO_H
#define ZOBREL_COMMON_BUILD_INFO_H

#include <stddef.h>

#include "build_constants.h"

// The build's constants (BuildConstants: every key as the block holds it)
// and the payload blob where it lies in the image, with its length L.
struct BuildInfo : BuildConstants {
    const unsigned char *payload_blob;
    unsigned long long payload_length;
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
