// reader.h: the payload stream reader, an exact-length source of the decoded
// archive. The compressed frame is decoded where it lies in the image;
// decoded bytes pass through one 128 KiB window. Main thread only.
#ifndef ZOBREL_PAYLOAD_READER_H
#define ZOBREL_PAYLOAD_READER_H

#include <zstd.h>

// The next unread byte of the payload blob and the blob's length L.
struct PayloadCursor {
    const unsigned char *position;
    unsigned long long length;
};

// The decode window's bookkeeping: dst is the 131,072-byte buffer; between
// reads, size holds the fill and pos the read position.
typedef ZSTD_outBuffer DecodeWindow;

extern PayloadCursor g_payload_cursor;
extern DecodeWindow g_decode_window;
extern ZSTD_inBuffer g_decoder_input;
extern ZSTD_DCtx *g_decoder;

// Allocates the window, then the decoder context ("Error, couldn't allocate
// memory." and exit status 2 when either fails), and points the decoder's
// input at the rest of the blob: from the cursor (past the header) to its end.
void payload_open();

// Puts exactly n decoded bytes at destination, or ends the launcher with
// "Error, couldn't decode attached data." and exit status 2 when the stream
// is damaged or ends first. A read of 0 bytes touches nothing.
void payload_read(void *destination, unsigned long long n);

// Called after the archive's end marker: returns when the frame ends exactly
// there, every byte of it read and zstd's content checksum (if the frame
// carries one) verified. Ends the launcher with "Error, couldn't decode
// attached data." and exit status 2 when decoded bytes follow the marker or
// the frame does not end: an end marker that damage made early would
// otherwise stop the reading before the damage or the checksum is reached.
void payload_expect_end();

// Frees the decoder context, then the window.
void payload_close();

#endif
