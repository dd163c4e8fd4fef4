// zstd_frame.h: makes a zstd frame of given bytes, and decodes one the
// plain way (one frame, whole, into memory), for the targets that compare
// the streaming readers with what a frame holds.
#ifndef ZOBREL_FUZZ_ZSTD_FRAME_H
#define ZOBREL_FUZZ_ZSTD_FRAME_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// One frame of the bytes at the fastest level, as the flags byte of the
// input asks: flag 2, with zstd's content checksum; flag 8, in blocks of
// at most 1031 + 7919 h bytes (h the flags' high four bits) rather than
// 128 KiB, so that blocks end elsewhere than at the readers' window
// boundaries (as the higher levels' block splitting makes them end).
std::string compress_frame(const unsigned char *data, size_t size, unsigned char flags);

enum FrameDecoding {
    FRAME_DECODED,   // the first frame, whole: its output is in `decoded`
    FRAME_DAMAGED,   // it fails to decode or ends early
    FRAME_TOO_LONG,  // it decodes to more than the limit: no verdict
};

// Decodes the first frame of the bytes as the payload readers do (a window
// of at most 2^27 bytes; whatever follows the frame is not looked at).
FrameDecoding decode_frame(const unsigned char *frame, size_t size, uint64_t limit, std::string &decoded);

#endif
