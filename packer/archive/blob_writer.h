// blob_writer.h: compresses the archive, streaming, into the payload blob:
// one zstd frame between the "QJY" header and the padded length record.
#ifndef ZOBREL_PACKER_ARCHIVE_BLOB_WRITER_H
#define ZOBREL_PACKER_ARCHIVE_BLOB_WRITER_H

#include <cstdint>
#include <functional>
#include <string>

struct ZSTD_CCtx_s;

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

// Makes a blob in memory: the header, exactly one zstd frame over everything
// passed to write(), padding and the length record, the header and trailer
// through the shared writer (payload_writer.h). The frame carries no
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

}  // namespace zobrel

#endif
