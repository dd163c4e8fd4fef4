// zstd_frame.cpp: compresses and decodes one zstd frame in memory.
#include "zstd_frame.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_c_maxBlockSize
#include <zstd.h>

#include "fuzz_target.h"
#include "payload_format.h"

std::string compress_frame(const unsigned char *data, size_t size, unsigned char flags)
{
    ZSTD_CCtx *cctx = ZSTD_createCCtx();
    FUZZ_CHECK(cctx != NULL);
    FUZZ_CHECK(!ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 1)));
    FUZZ_CHECK(!ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, (flags & 2) ? 1 : 0)));
    if (flags & 8) {
        // zstd takes no block size below ZSTD_BLOCKSIZE_MAX_MIN (1 KiB);
        // none of these sizes divides the decode window.
        FUZZ_CHECK(
            !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_maxBlockSize, 1031 + 7919 * (flags >> 4))));
    }
    std::string frame(ZSTD_compressBound(size), '\0');
    const size_t written = ZSTD_compress2(cctx, &frame[0], frame.size(), data, size);
    ZSTD_freeCCtx(cctx);
    FUZZ_CHECK(!ZSTD_isError(written));
    frame.resize(written);
    return frame;
}

FrameDecoding decode_frame(const unsigned char *frame, size_t size, uint64_t limit, std::string &decoded)
{
    decoded.clear();
    ZSTD_DCtx *dctx = ZSTD_createDCtx();
    FUZZ_CHECK(dctx != NULL);
    FUZZ_CHECK(!ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, PAYLOAD_MAX_WINDOW_LOG)));
    ZSTD_inBuffer in = {frame, size, 0};
    char chunk[65536];
    FrameDecoding result = FRAME_DAMAGED;
    for (;;) {
        ZSTD_outBuffer out = {chunk, sizeof chunk, 0};
        const size_t rc = ZSTD_decompressStream(dctx, &out, &in);
        if (ZSTD_isError(rc)) {
            break;
        }
        decoded.append(chunk, out.pos);
        if (decoded.size() > limit) {
            result = FRAME_TOO_LONG;
            break;
        }
        if (rc == 0) {
            result = FRAME_DECODED;
            break;
        }
        if (in.pos == in.size && out.pos < out.size) {
            break;  // all input taken, the frame unfinished
        }
    }
    ZSTD_freeDCtx(dctx);
    return result;
}
