// blob_reader.h: checks a payload blob's layout and decodes its frame, for
// list, verify and extract.
#ifndef ZOBREL_PACKER_ARCHIVE_BLOB_READER_H
#define ZOBREL_PACKER_ARCHIVE_BLOB_READER_H

#include <cstdint>
#include <string>

struct ZSTD_DCtx_s;

namespace zobrel {

// Where the parts of a blob lie.
struct BlobLayout {
    uint64_t frame_offset = 3;
    uint64_t frame_size = 0;
    uint64_t padding = 0;
    uint64_t length = 0;  // L
};

// Checks what the launcher reads of a blob of length L in memory: the
// header, and one zstd frame of at most a 2^27 window right after it, ending
// within the blob. Returns "" and fills layout (padding: what follows the
// frame up to the length record, if anything), or says what is wrong.
std::string check_frame_placement(const unsigned char *blob, uint64_t length, BlobLayout &layout);

// Checks what the launcher never reads, after a frame check_frame_placement
// placed: at most 15 zero bytes up to a length record equal to L - 8 at a
// multiple of 16. Returns "" or says what is wrong.
std::string check_blob_trailer(const unsigned char *blob, const BlobLayout &layout);

// Both: the blob's whole layout. Returns "" and fills layout, or says what is wrong.
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
