// reader.cpp: decodes the payload frame through one window, on demand.
#include "payload/reader.h"

#include <stdlib.h>
#include <string.h>

#include "payload_format.h"

StageResult payload_open(PayloadReader *reader, const PayloadInput &input)
{
    reader->window.dst = malloc(DECODE_WINDOW_SIZE);
    reader->window.size = 0;
    reader->window.pos = 0;
    if (reader->window.dst == NULL) {
        return stage_failed(FAILURE_MEMORY);
    }
    reader->decoder = ZSTD_createDCtx();
    if (reader->decoder == NULL) {
        return stage_failed(FAILURE_MEMORY);
    }
    // The input ends exactly at the end of the blob: the padding and the
    // length record after the frame are the decoder's to reject, should a
    // damaged archive ask for more than the frame holds.
    reader->input.src = input.data;
    reader->input.size = input.size;
    reader->input.pos = 0;
    reader->frame_ended = false;
    return stage_succeeded();
}

// One decoder call over the whole window, which must be empty. *filled: the
// call filled the whole window.
static StageResult refill_window(PayloadReader *reader, bool *filled)
{
    ZSTD_outBuffer *window = &reader->window;
    window->size = DECODE_WINDOW_SIZE;
    window->pos = 0;
    size_t result = ZSTD_decompressStream(reader->decoder, window, &reader->input);
    *filled = window->pos == DECODE_WINDOW_SIZE;
    if (ZSTD_isError(result)) {
        return stage_failed(FAILURE_DECODE);
    }
    reader->frame_ended = result == 0;
    window->size = window->pos;
    window->pos = 0;
    return stage_succeeded();
}

StageResult payload_read(PayloadReader *reader, void *destination, unsigned long long n)
{
    if (n == 0) {
        return stage_succeeded();
    }
    ZSTD_outBuffer *window = &reader->window;
    unsigned char *out = static_cast<unsigned char *>(destination);
    // A call that filled the whole window may have left output inside the
    // decoder even when all input is consumed; only this read's calls count.
    bool filled_whole_window = false;
    while (n > 0) {
        size_t available = window->size - window->pos;
        if (available > 0) {
            size_t k = n < available ? static_cast<size_t>(n) : available;
            if (out != NULL) {
                memcpy(out, static_cast<unsigned char *>(window->dst) + window->pos, k);
                out += k;
            }
            window->pos += k;
            n -= k;
        } else if (reader->input.pos < reader->input.size || filled_whole_window) {
            StageResult refilled = refill_window(reader, &filled_whole_window);
            if (failed(refilled)) {
                return refilled;
            }
        } else {
            return stage_failed(FAILURE_DECODE);
        }
    }
    return stage_succeeded();
}

StageResult payload_expect_end(PayloadReader *reader)
{
    for (;;) {
        // Decoded bytes after the end marker: it came early, from damage.
        if (reader->window.pos != reader->window.size) {
            return stage_failed(FAILURE_DECODE);
        }
        if (reader->frame_ended) {
            return stage_succeeded();
        }
        // The frame may still hold its last block header or its checksum,
        // which only a further call reads; that call must produce nothing.
        size_t consumed = reader->input.pos;
        bool filled = false;
        StageResult refilled = refill_window(reader, &filled);
        if (failed(refilled)) {
            return refilled;
        }
        if (reader->window.size == 0 && !reader->frame_ended && reader->input.pos == consumed) {
            return stage_failed(FAILURE_DECODE);  // no progress: the frame is cut short
        }
    }
}

void payload_close(PayloadReader *reader)
{
    ZSTD_freeDCtx(reader->decoder);
    reader->decoder = NULL;
    free(reader->window.dst);
    reader->window.dst = NULL;
    reader->window.size = 0;
    reader->window.pos = 0;
}
