// reader.cpp: decodes the payload frame through one window, on demand.
#include "payload/reader.h"

#include <stdlib.h>
#include <string.h>

#include "common/fatal.h"
#include "payload_format.h"

PayloadCursor g_payload_cursor;
DecodeWindow g_decode_window;
ZSTD_inBuffer g_decoder_input;
ZSTD_DCtx *g_decoder;

// Whether the last decoder call finished the frame: every block decoded and
// flushed, and zstd's content checksum, if the frame has one, verified.
static bool g_frame_ended;

void payload_open()
{
    void *window = malloc(DECODE_WINDOW_SIZE);
    if (window == NULL) {
        fatal_memory_error();
    }
    g_decode_window.dst = window;
    g_decode_window.size = 0;
    g_decode_window.pos = 0;

    g_decoder = ZSTD_createDCtx();
    if (g_decoder == NULL) {
        fatal_memory_error();
    }
    // The input ends exactly at the end of the blob: the padding and the
    // length record after the frame are the decoder's to reject, should a
    // damaged archive ask for more than the frame holds.
    g_decoder_input.src = g_payload_cursor.position;
    g_decoder_input.size = g_payload_cursor.length - PAYLOAD_HEADER_SIZE;
    g_decoder_input.pos = 0;
    g_frame_ended = false;
}

// One decoder call over the whole window, which must be empty.
// True when the call filled the whole window.
static bool refill_window()
{
    g_decode_window.size = DECODE_WINDOW_SIZE;
    g_decode_window.pos = 0;
    size_t result = ZSTD_decompressStream(g_decoder, &g_decode_window, &g_decoder_input);
    bool filled = g_decode_window.pos == DECODE_WINDOW_SIZE;
    if (ZSTD_isError(result)) {
        fatal_decode_error();
    }
    g_frame_ended = result == 0;
    g_decode_window.size = g_decode_window.pos;
    g_decode_window.pos = 0;
    return filled;
}

void payload_read(void *destination, unsigned long long n)
{
    if (n == 0) {
        return;
    }
    unsigned char *out = static_cast<unsigned char *>(destination);
    // A call that filled the whole window may have left output inside the
    // decoder even when all input is consumed; only this read's calls count.
    bool filled_whole_window = false;
    while (n > 0) {
        size_t available = g_decode_window.size - g_decode_window.pos;
        if (available > 0) {
            size_t k = n < available ? static_cast<size_t>(n) : available;
            memcpy(out, static_cast<unsigned char *>(g_decode_window.dst) + g_decode_window.pos, k);
            out += k;
            g_decode_window.pos += k;
            n -= k;
        } else if (g_decoder_input.pos < g_decoder_input.size || filled_whole_window) {
            filled_whole_window = refill_window();
        } else {
            fatal_decode_error();
        }
    }
}

void payload_expect_end()
{
    for (;;) {
        // Decoded bytes after the end marker: it came early, from damage.
        if (g_decode_window.pos != g_decode_window.size) {
            fatal_decode_error();
        }
        if (g_frame_ended) {
            return;
        }
        // The frame may still hold its last block header or its checksum,
        // which only a further call reads; that call must produce nothing.
        size_t consumed = g_decoder_input.pos;
        refill_window();
        if (g_decode_window.size == 0 && !g_frame_ended && g_decoder_input.pos == consumed) {
            fatal_decode_error();  // no progress: the frame is cut short
        }
    }
}

void payload_close()
{
    ZSTD_freeDCtx(g_decoder);
    g_decoder = NULL;
    free(g_decode_window.dst);
    g_decode_window.dst = NULL;
    g_decode_window.size = 0;
    g_decode_window.pos = 0;
}
