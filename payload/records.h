// records.h: an archive record's fields read from the payload stream, in
// the order the stream holds them: the name (or the end marker), the size
// and stored checksum, the content. The unpacker and the name check read
// records through these.
#ifndef ZOBREL_PAYLOAD_RECORDS_H
#define ZOBREL_PAYLOAD_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include "payload/reader_state.h"
#include "common/stage_result.h"

// Reads the next record's name into `name` (RECORD_NAME_CAPACITY units),
// NUL-terminated, and its length into *length; at the end marker, *length
// is 0. FAILURE_DECODE when the stream fails or ends first, or the name is
// longer than 1023 units (the packer never stores one that would not fit
// the buffer: damage, reported before anything is written past it).
StageResult read_record_name(PayloadReader *reader, wchar_t *name, size_t *length);

// Reads the size and the stored checksum that follow a record's name.
// FAILURE_DECODE when the stream fails or ends first.
StageResult read_record_fields(PayloadReader *reader, uint64_t *size, uint32_t *stored);

// Reads and drops a record's `size` bytes of content (the stream cannot
// skip). FAILURE_DECODE when the stream fails or ends first.
StageResult skip_record_content(PayloadReader *reader, uint64_t size);

#endif
