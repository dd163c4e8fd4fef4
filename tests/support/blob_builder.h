// blob_builder.h: archives and payload blobs in memory for tests, made by the
// shared writer (payload_writer.h) from the frames tests compress
// themselves, so tests can feed the launcher's reader and unpacker any
// payload, well-formed or damaged.
#ifndef ZOBREL_TESTS_SUPPORT_BLOB_BUILDER_H
#define ZOBREL_TESTS_SUPPORT_BLOB_BUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "payload_writer.h"

struct TestRecord {
    std::wstring name;  // backslash-separated relative path
    std::string content;
    bool override_checksum = false;
    uint32_t checksum = 0;  // stored instead of the content's CRC-32 when overridden
};

// zlib's CRC-32 of the bytes, started from 0.
uint32_t crc32_of(const std::string &bytes);

// Records one after another, then the end marker.
std::string build_archive(const std::vector<TestRecord> &records);

struct FrameOptions {
    int level;
    int window_log;  // 0: the compressor's choice for the input's size
    bool checksum;   // zstd's content checksum
};

// One zstd frame without content size. The input is fed before the end is
// announced, so the compressor never shrinks a chosen window to the input.
std::string compress_frame(const std::string &bytes, const FrameOptions &options);

// The same at the given level, with a 1 MiB window and no checksum.
std::string compress_frame(const std::string &bytes, int level = 3);

// "QJY", the frame, zero padding to put the length record at a multiple of
// 16, and the length record: payload_blob.
std::string wrap_blob(const std::string &frame);

// wrap_blob(compress_frame(build_archive(records))).
std::string build_blob(const std::vector<TestRecord> &records, int level = 3);

// Deterministic pseudo-random bytes (poorly compressible).
std::string random_bytes(size_t size, uint32_t seed);

#endif
