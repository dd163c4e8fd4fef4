// blob_writer.cpp: compresses the archive into the payload blob.
#include "archive/blob_writer.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameProgression
#include <zstd.h>

#include <algorithm>

#include "archive/zstd_check.h"
#include "payload_format.h"
#include "payload_writer.h"

namespace zobrel {

unsigned window_log_for(uint64_t archive_size)
{
    unsigned log = 10;
    while (log < PAYLOAD_MAX_WINDOW_LOG && (uint64_t{1} << log) < archive_size) ++log;
    return log;
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
    append_blob_header(blob_);
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
    append_blob_trailer(blob_);
    return std::move(blob_);
}

}  // namespace zobrel
