// header.h: the check of the payload blob's three-byte header, which finds
// the bytes the stream reader decodes.
#ifndef ZOBREL_PAYLOAD_HEADER_H
#define ZOBREL_PAYLOAD_HEADER_H

#include <stddef.h>

#include "common/stage_result.h"

// The bytes after the payload header, to the blob's end: the zstd frame, its
// padding and the length record, where they lie in the image.
struct PayloadInput {
    const unsigned char *data;
    size_t size;
};

// Compares the blob's first three bytes with "QJ" and "Y", byte for byte.
// Success: *input is the rest of the blob. FAILURE_HEADER, with *input left
// as it was, when a byte differs or the blob is shorter than the header.
StageResult check_payload_header(const unsigned char *blob, unsigned long long length, PayloadInput *input);

#endif
