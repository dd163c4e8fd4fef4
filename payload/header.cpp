// header.cpp: checks the payload blob's magic and mode byte.
#include "payload/header.h"

#include "common/fatal.h"
#include "payload_format.h"
#include "payload/reader.h"

void check_payload_header()
{
    const unsigned char *header = g_payload_cursor.position;
    g_payload_cursor.position += PAYLOAD_HEADER_SIZE;
    for (size_t i = 0; i < PAYLOAD_HEADER_SIZE; i++) {
        if (header[i] != PAYLOAD_MAGIC[i]) {
            fatal_header_error();
        }
    }
}
