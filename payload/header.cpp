// header.cpp: checks the payload blob's magic and mode byte.
#include "payload/header.h"

#include "payload_format.h"

StageResult check_payload_header(const unsigned char *blob, unsigned long long length, PayloadInput *input)
{
    if (length < PAYLOAD_HEADER_SIZE) {
        return stage_failed(FAILURE_HEADER);
    }
    for (size_t i = 0; i < PAYLOAD_HEADER_SIZE; i++) {
        if (blob[i] != PAYLOAD_MAGIC[i]) {
            return stage_failed(FAILURE_HEADER);
        }
    }
    input->data = blob + PAYLOAD_HEADER_SIZE;
    input->size = static_cast<size_t>(length - PAYLOAD_HEADER_SIZE);
    return stage_succeeded();
}
