// build_constants.cpp: the structural check of a build constants block.
#include "build_constants.h"

#include <string.h>

#include "little_endian.h"

static bool is_text(const unsigned char *value, uint32_t size)
{
    if (size < 2 || size % 2 != 0) {
        return false;
    }
    uint32_t units = size / 2;
    for (uint32_t i = 0; i + 1 < units; i++) {
        if (read_le16(value + 2 * i) == 0) {
            return false;
        }
    }
    return read_le16(value + size - 2) == 0;
}

bool parse_constants_block(const unsigned char *block, size_t available, ConstantsView *view)
{
    memset(view, 0, sizeof *view);
    if (available < CONSTANTS_HEADER_SIZE || memcmp(block, CONSTANTS_MAGIC, sizeof CONSTANTS_MAGIC) != 0) {
        return false;
    }
    uint32_t total = read_le32(block + 8);
    uint32_t count = read_le32(block + 16);
    if (total < CONSTANTS_HEADER_SIZE || total > available ||
        count > (total - CONSTANTS_HEADER_SIZE) / CONSTANTS_ENTRY_SIZE) {
        return false;
    }
    const uint32_t values_start = static_cast<uint32_t>(CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * count);
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char *entry = block + CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * i;
        uint32_t key = read_le32(entry);
        uint32_t offset = read_le32(entry + 4);
        uint32_t size = read_le32(entry + 8);
        if (offset < values_start || offset % CONSTANTS_VALUE_ALIGNMENT != 0 || offset > total ||
            size > total - offset) {
            return false;
        }
        if (key >= CONSTANT_KEY_LIMIT) {
            continue;
        }
        if (view->values[key] != NULL) {
            return false;
        }
        view->values[key] = block + offset;
        view->sizes[key] = size;
    }
    for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; key++) {
        if (view->values[key] == NULL || !is_text(view->values[key], view->sizes[key])) {
            return false;
        }
    }
    view->total_size = total;
    view->stored_crc = read_le32(block + 12);
    return true;
}
