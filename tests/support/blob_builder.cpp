// blob_builder.cpp: archives and payload blobs for tests, through the shared writer.
#include "blob_builder.h"

#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

uint32_t crc32_of(const std::string &bytes)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size()));
    return static_cast<uint32_t>(crc);
}

std::string build_archive(const std::vector<TestRecord> &records)
{
    std::vector<ArchiveRecord> written;
    for (const TestRecord &r : records) {
        written.push_back({std::u16string(r.name.begin(), r.name.end()), r.content, std::nullopt});
        if (r.override_checksum) written.back().stored_checksum = r.checksum;
    }
    return archive_bytes(written);
}

std::string compress_frame(const std::string &bytes, const FrameOptions &options)
{
    ZSTD_CCtx *cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, options.level);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, options.checksum ? 1 : 0);
    if (options.window_log) ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, options.window_log);
    std::string out(ZSTD_compressBound(bytes.size()) + 1024, '\0');
    ZSTD_outBuffer o = {&out[0], out.size(), 0};
    ZSTD_inBuffer i = {bytes.data(), bytes.size(), 0};
    while (i.pos < i.size) {
        size_t r = ZSTD_compressStream2(cctx, &o, &i, ZSTD_e_continue);
        if (ZSTD_isError(r)) throw std::runtime_error(ZSTD_getErrorName(r));
    }
    size_t left;
    do {
        left = ZSTD_compressStream2(cctx, &o, &i, ZSTD_e_end);
        if (ZSTD_isError(left)) throw std::runtime_error(ZSTD_getErrorName(left));
    } while (left != 0);
    ZSTD_freeCCtx(cctx);
    out.resize(o.pos);
    return out;
}

std::string compress_frame(const std::string &bytes, int level)
{
    return compress_frame(bytes, FrameOptions{level, 20, false});
}

std::string wrap_blob(const std::string &frame)
{
    return payload_blob(frame);
}

std::string build_blob(const std::vector<TestRecord> &records, int level)
{
    return wrap_blob(compress_frame(build_archive(records), level));
}

std::string random_bytes(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    uint32_t s = seed ? seed : 1;
    for (size_t i = 0; i < size; i++) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        out[i] = static_cast<char>(s >> 24);
    }
    return out;
}
