// frame.cpp: compresses the archive into the payload blob and decodes it back.
#include "frame.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameProgression, ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <cstring>

#include "error.h"
#include "little_endian.h"
#include "payload_format.h"

namespace zobrel {
namespace {

void check_zstd(size_t rc, const char *what)
{
    if (ZSTD_isError(rc)) throw PackError(std::string("zstd: ") + what + ": " + ZSTD_getErrorName(rc));
}

}  // namespace

unsigned window_log_for(uint64_t archive_size)
{
    unsigned log = 10;
    while (log < PAYLOAD_MAX_WINDOW_LOG && (uint64_t{1} << log) < archive_size) ++log;
    return log;
}

uint64_t padding_after_frame(uint64_t frame_size)
{
    uint64_t end = PAYLOAD_HEADER_SIZE + frame_size;
    return (PAYLOAD_LENGTH_RECORD_ALIGNMENT - end % PAYLOAD_LENGTH_RECORD_ALIGNMENT) %
           PAYLOAD_LENGTH_RECORD_ALIGNMENT;
}

BlobWriter::BlobWriter(const FrameOptions &options, uint64_t archive_size)
{
    cctx_ = ZSTD_createCCtx();
    if (!cctx_) throw PackError("zstd: cannot create a compression context (out of memory)");
    check_zstd(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_compressionLevel, options.level), "compression level");
    check_zstd(
        ZSTD_CCtx_setParameter(cctx_, ZSTD_c_windowLog, static_cast<int>(window_log_for(archive_size))),
        "window log");
    check_zstd(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_enableLongDistanceMatching, 1), "long distance matching");
    // The archive's end marker closes it, so the frame needs no content size.
    check_zstd(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_contentSizeFlag, 0), "content size flag");
    check_zstd(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_checksumFlag, options.checksum ? 1 : 0), "checksum flag");
    // Always at least one worker: zstd's output then does not depend on the
    // number of workers, so --threads never changes the executable.
    check_zstd(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_nbWorkers, options.threads < 1 ? 1 : options.threads),
               "worker threads (is libzstd built with multithreading?)");
    check_zstd(ZSTD_CCtx_setPledgedSrcSize(cctx_, archive_size), "pledged size");
    out_.resize(ZSTD_CStreamOutSize());
    // Room for the whole frame up front (capped: pages never written are
    // never touched), so that growing it copies nothing.
    const uint64_t bound = ZSTD_compressBound(static_cast<size_t>(archive_size)) + 64;
    blob_.reserve(static_cast<size_t>(std::min<uint64_t>(bound, uint64_t{256} << 20)));
    blob_.append(reinterpret_cast<const char *>(PAYLOAD_MAGIC), PAYLOAD_HEADER_SIZE);
}

BlobWriter::~BlobWriter()
{
    if (cctx_) ZSTD_freeCCtx(cctx_);
}

void BlobWriter::drain(int directive, const void *data, size_t size)
{
    ZSTD_inBuffer in{data, size, 0};
    for (;;) {
        ZSTD_outBuffer out{&out_[0], out_.size(), 0};
        size_t left = ZSTD_compressStream2(cctx_, &out, &in, static_cast<ZSTD_EndDirective>(directive));
        check_zstd(left, "compression");
        blob_.append(out_.data(), out.pos);
        if (progress_) progress_(ZSTD_getFrameProgression(cctx_).consumed);
        if (directive == ZSTD_e_end ? left == 0 : in.pos == in.size) break;
    }
}

void BlobWriter::write(const void *data, size_t size)
{
    drain(ZSTD_e_continue, data, size);
}

std::string BlobWriter::finish()
{
    drain(ZSTD_e_end, nullptr, 0);
    const uint64_t frame_size = blob_.size() - PAYLOAD_HEADER_SIZE;
    blob_.append(static_cast<size_t>(padding_after_frame(frame_size)), '\0');
    unsigned char record[PAYLOAD_LENGTH_RECORD_SIZE];
    write_le64(record, blob_.size());
    blob_.append(reinterpret_cast<const char *>(record), sizeof record);
    return std::move(blob_);
}

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
    if (padding != padding_after_frame(frame_size)) {
        return std::to_string(padding) + " bytes lie between the frame and the length record, expected " +
               std::to_string(padding_after_frame(frame_size));
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
