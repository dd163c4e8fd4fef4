// blob_reader.cpp: checks a payload blob's layout and decodes its frame.
#include "archive/blob_reader.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <cstring>

#include "archive/zstd_check.h"
#include "little_endian.h"
#include "payload_format.h"

namespace zobrel {

namespace {

std::string header_problem(const unsigned char *blob, uint64_t length)
{
    if (length < PAYLOAD_HEADER_SIZE) return "the payload is only " + std::to_string(length) + " bytes long";
    if (std::memcmp(blob, PAYLOAD_MAGIC, PAYLOAD_HEADER_SIZE) != 0)
        return "the payload does not start with \"QJY\"";
    return "";
}

std::string length_record_problem(const unsigned char *blob, uint64_t length)
{
    const uint64_t record = read_le64(blob + length - PAYLOAD_LENGTH_RECORD_SIZE);
    if (record != length - PAYLOAD_LENGTH_RECORD_SIZE) {
        return "the length record holds " + std::to_string(record) + ", not " +
               std::to_string(length - PAYLOAD_LENGTH_RECORD_SIZE) + " (the payload is truncated or damaged)";
    }
    if (record % PAYLOAD_LENGTH_RECORD_ALIGNMENT != 0)
        return "the length record does not start at a multiple of 16";
    return "";
}

std::string padding_problem(const unsigned char *blob, const BlobLayout &layout)
{
    if (layout.padding != payload_padding(layout.frame_size)) {
        return std::to_string(layout.padding) +
               " bytes lie between the frame and the length record, expected " +
               std::to_string(payload_padding(layout.frame_size));
    }
    for (uint64_t i = 0; i < layout.padding; ++i) {
        if (blob[layout.frame_offset + layout.frame_size + i] != 0)
            return "the padding after the frame is not zero";
    }
    return "";
}

}  // namespace

std::string check_frame_placement(const unsigned char *blob, uint64_t length, BlobLayout &layout)
{
    std::string why = header_problem(blob, length);
    if (!why.empty()) return why;
    const unsigned char *frame = blob + PAYLOAD_HEADER_SIZE;
    // The launcher decodes from the header to the blob's end.
    const uint64_t room = length - PAYLOAD_HEADER_SIZE;
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
    const uint64_t after = room - frame_size;
    layout = BlobLayout{PAYLOAD_HEADER_SIZE, frame_size,
                        after >= PAYLOAD_LENGTH_RECORD_SIZE ? after - PAYLOAD_LENGTH_RECORD_SIZE : 0, length};
    return "";
}

std::string check_blob_trailer(const unsigned char *blob, const BlobLayout &layout)
{
    if (layout.length < layout.frame_offset + layout.frame_size + PAYLOAD_LENGTH_RECORD_SIZE)
        return "the frame runs into the length record (the payload is truncated or damaged)";
    std::string why = length_record_problem(blob, layout.length);
    return why.empty() ? padding_problem(blob, layout) : why;
}

std::string check_blob(const unsigned char *blob, uint64_t length, BlobLayout &layout)
{
    const uint64_t overhead = PAYLOAD_HEADER_SIZE + PAYLOAD_LENGTH_RECORD_SIZE;
    if (length < overhead) return "the payload is only " + std::to_string(length) + " bytes long";
    std::string why = header_problem(blob, length);
    if (why.empty()) why = length_record_problem(blob, length);
    BlobLayout placed;
    if (why.empty()) why = check_frame_placement(blob, length, placed);
    if (why.empty()) why = check_blob_trailer(blob, placed);
    if (why.empty()) layout = placed;
    return why;
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
