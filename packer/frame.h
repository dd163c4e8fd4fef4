// frame.h: the payload blob: one zstd frame between the "QJY" header and the
// padded length record, written streaming and checked on the way back.
#ifndef ZOBREL_PACKER_FRAME_H
#define ZOBREL_PACKER_FRAME_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace zobrel {

struct FrameOptions {
    int level = 19;
    int threads = 1;        // zstd worker threads, at least 1
    bool checksum = false;  // zstd's content checksum in the frame
};

// The window log for an archive of this many bytes: big enough to reach back
// over the whole archive, at most 27 (what the launcher's decoder accepts),
// at least 10. Small archives thus cost the launcher a small history buffer.
unsigned window_log_for(uint64_t archive_size);

// Zero bytes after a frame of frame_size bytes, so that the length record
// starts at a multiple of 16 from the start of the blob.
uint64_t padding_after_frame(uint64_t frame_size);

// Makes a blob in memory: the header, exactly one zstd frame over everything
// passed to write(), padding and the length record. The frame carries no
// content size. Throws PackError on any failure.
class BlobWriter {
public:
    BlobWriter(const FrameOptions &options, uint64_t archive_size);
    ~BlobWriter();
    BlobWriter(const BlobWriter &) = delete;
    BlobWriter &operator=(const BlobWriter &) = delete;

    void write(const void *data, size_t size);
    // Told, after each step of the compressor, how many archive bytes it has
    // compressed so far (not merely taken in: workers may still hold some).
    void on_progress(std::function<void(uint64_t)> callback) { progress_ = std::move(callback); }
    // Ends the frame and appends padding and length record; returns the
    // whole blob (its size is L).
    std::string finish();

private:
    void drain(int directive, const void *data, size_t size);

    ZSTD_CCtx_s *cctx_ = nullptr;
    std::string out_;
    std::string blob_;
    std::function<void(uint64_t)> progress_;
};

// Where the parts of a blob lie.
struct BlobLayout {
    uint64_t frame_offset = 3;
    uint64_t frame_size = 0;
    uint64_t padding = 0;
    uint64_t length = 0;  // L
};

// Checks a blob of length L in memory: header, length record equal to L - 8
// at a multiple of 16, one frame of at most a 2^27 window ending in at most 15
// zero bytes before it. Returns "" and fills layout, or says what is wrong.
std::string check_blob(const unsigned char *blob, uint64_t length, BlobLayout &layout);

// Streams the decoded output of one frame.
class FrameReader {
public:
    FrameReader(const unsigned char *frame, uint64_t size);
    ~FrameReader();
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;

    // Reads up to n bytes; fewer only when the frame has ended. Throws
    // PackError when the frame is damaged or truncated, or its checksum fails.
    size_t read(void *dst, size_t n);

private:
    ZSTD_DCtx_s *dctx_ = nullptr;
    const unsigned char *src_;
    uint64_t size_;
    uint64_t pos_ = 0;
    bool ended_ = false;
};

}  // namespace zobrel

#endif
