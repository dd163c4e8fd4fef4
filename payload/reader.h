// reader.h: the payload stream reader, an exact-length source of the decoded
// archive. The compressed frame is decoded where it lies in the image;
// decoded bytes pass through one 128 KiB window. The reader's state is the
// payload stage's PayloadReader (payload/reader_state.h), which only these
// functions touch. Main thread only.
#ifndef ZOBREL_PAYLOAD_READER_H
#define ZOBREL_PAYLOAD_READER_H

#include "payload/reader_state.h"
#include "common/stage_result.h"
#include "payload/header.h"

// Allocates the window, then the decoder context, and points the decoder's
// input at `input`: what check_payload_header found after the header. The
// input ends exactly at the end of the blob. FAILURE_MEMORY when the window
// or the context cannot be had; payload_close then frees what was had.
StageResult payload_open(PayloadReader *reader, const PayloadInput &input);

// Puts exactly n decoded bytes at destination, or drops them when it is
// null (the stream cannot skip). FAILURE_DECODE when the stream is damaged
// or ends first; what came before the damage may have been written at
// destination. A read of 0 bytes touches nothing.
StageResult payload_read(PayloadReader *reader, void *destination, unsigned long long n);

// Called after the archive's end marker: succeeds when the frame ends
// exactly there, every byte of it read and zstd's content checksum (if the
// frame carries one) verified. FAILURE_DECODE when decoded bytes follow the
// marker or the frame does not end: an end marker that damage made early
// would otherwise stop the reading before the damage or the checksum is
// reached.
StageResult payload_expect_end(PayloadReader *reader);

// Frees the decoder context, then the window; a reader that was never
// opened, or is closed already, is left as it is.
void payload_close(PayloadReader *reader);

#endif
