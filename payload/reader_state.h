// reader_state.h: the payload stream reader's state, the launch's part that
// payload/reader.cpp alone writes. It names no Win32 type, so the reader and
// the record walk over it (payload/records.h) also build for the host (the
// fuzz targets).
#ifndef ZOBREL_PAYLOAD_READER_STATE_H
#define ZOBREL_PAYLOAD_READER_STATE_H

#include <zstd.h>

struct PayloadReader {
    // The decode window: dst is the 131,072-byte buffer; between reads,
    // size holds its fill and pos the read position.
    ZSTD_outBuffer window;
    // The decoder's input: the blob after its header, to the blob's end.
    ZSTD_inBuffer input;
    ZSTD_DCtx *decoder;
    // Whether the last decoder call finished the frame: every block decoded
    // and flushed, and zstd's content checksum, if the frame has one, verified.
    bool frame_ended;
};

#endif
