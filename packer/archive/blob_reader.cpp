// blob_reader.cpp: checks a payload blob's layout and decodes its frame.
#include "archive/blob_reader.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <cstring>

#include "archive/zstd_check.h"
#include "little_endian.h"
#include "payload_format.h"

namespace zobrel {

std::string check_blob(const unsigned char *blob, uint64_t length, BlobLayout &layout)
{
    const uint64_t overhead = PAYLOAD_HEADER_SIZE + PAYLOAD_LENGTH_RECORD_SIZE;
    if (length < overhead) return "the payload is only " + std::to_string(length) + " bytes long";
    if (std::memcmp(blob, PAYLOAD_MAGIC, PAYLOAD_HEADER_SIZE) != 0)
        return "the payload does not start with \"QJY\"";
    const uint64_t record = read_le64(blob + length - PAYLOAD_LENGTH_RECORD_SIZE);
    if (record != length - PAYLOAD_LENGTH_RECORD_SIZE) {
        return "the length record holds " + std::to_string(record) + ", not " +
               std::to_string(length - PAYLOAD_LENGTH_RECORD_SIZE) + " (the payload is truncated or damaged)";
    }
    if (record % PAYLOAD_LENGTH_RECORD_ALIGNMENT != 0)
        return "the length record does not start at a multiple of 16";
    const unsigned char *frame = blob + PAYLOAD_HEADER_SIZE;
    const uint64_t room = length - overhead;
    ZSTD_frameHeader header;
    const size_t header_rc = ZSTD_getFrameHeader(&header, frame, static_cast<size_t>(room));
    if (ZSTD_isError(header_rc) || header_rc > 0 || header.frameType != ZSTD_frame) {
        return "no zstd frame follows the header";
    }
    if (header.windowSize > (uint64_t{1} << PAYLOAD_MAX_WINDOW_LOG)) {
        return "the frame needs a window of " + std::to_string(header.windowSize) +
               " bytes, more than the launcher accepts";
    }
    size_t frame_size = ZSTD_findFrameCompressedSize(frame, static_cast<size_t>(room));
    if (ZSTD_isError(frame_size))
        return std::string("the zstd frame is damaged or truncated: ") + ZSTD_getErrorName(frame_size);
    uint64_t padding = room - frame_size;
    if (padding != payload_padding(frame_size)) {
        return std::to_string(padding) + " bytes lie between the frame and the length record, expected " +
               std::to_string(payload_padding(frame_size));
    }
    for (uint64_t i = 0; i < padding; ++i) {
        if (frame[frame_size + i] != 0) return "the padding after the frame is not zero";
    }
    layout = BlobLayout{PAYLOAD_HEADER_SIZE, frame_size, padding, length};
    return "";
}

FrameReader::FrameReader(const unsigned char *frame, uint64_t size) : src_(frame), size_(size)
{
    dctx_ = ZSTD_createDCtx();
    if (!dctx_) throw PackError("zstd: cannot create a decompression context (out of memory)");
    check_zstd(ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, static_cast<int>(PAYLOAD_MAX_WINDOW_LOG)),
               "window limit");
}

FrameReader::~FrameReader()
{
    if (dctx_) ZSTD_freeDCtx(dctx_);
}

size_t FrameReader::read(void *dst, size_t n)
{
    ZSTD_outBuffer out{dst, n, 0};
    while (out.pos < out.size && !ended_) {
        ZSTD_inBuffer in{src_ + pos_, static_cast<size_t>(size_ - pos_), 0};
        size_t before = out.pos;
        size_t rc = ZSTD_decompressStream(dctx_, &out, &in);
        pos_ += in.pos;
        if (ZSTD_isError(rc))
            throw PackError(std::string("the payload is damaged: ") + ZSTD_getErrorName(rc));
        if (rc == 0) {
            ended_ = true;
        } else if (in.pos == 0 && out.pos == before && pos_ == size_) {
            throw PackError("the payload is truncated: the zstd frame ends early");
        }
    }
    return out.pos;
}

}  // namespace zobrel
