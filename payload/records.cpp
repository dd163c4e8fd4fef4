// records.cpp: reads an archive record's name, fields and content from the payload stream.
#include "payload/records.h"

#include "payload/reader.h"
#include "little_endian.h"
#include "payload_format.h"

StageResult read_record_name(PayloadReader *reader, wchar_t *name, size_t *length)
{
    size_t units = 0;
    for (;;) {
        unsigned char bytes[2];
        StageResult read = payload_read(reader, bytes, sizeof bytes);
        if (failed(read)) {
            return read;
        }
        const wchar_t unit = static_cast<wchar_t>(read_le16(bytes));
        if (unit == 0) {
            name[units] = L'\0';
            *length = units;
            return stage_succeeded();
        }
        if (units + 1 >= RECORD_NAME_CAPACITY) {
            return stage_failed(FAILURE_DECODE);
        }
        name[units++] = unit;
    }
}

StageResult read_record_fields(PayloadReader *reader, uint64_t *size, uint32_t *stored)
{
    unsigned char bytes[RECORD_FIXED_SIZE];
    StageResult read = payload_read(reader, bytes, sizeof bytes);
    if (!failed(read)) {
        *size = read_le64(bytes);
        *stored = read_le32(bytes + 8);
    }
    return read;
}

StageResult skip_record_content(PayloadReader *reader, uint64_t size)
{
    return payload_read(reader, NULL, size);
}
