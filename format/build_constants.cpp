// build_constants.cpp: checks a build constants block and its record index.
#include "build_constants.h"

#include <string.h>

#include <libdeflate.h>

#include "archive_name.h"
#include "capacities.h"
#include "environment_name.h"
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

ConstantEntry read_constant_entry(const unsigned char *block, uint32_t i)
{
    const unsigned char *entry = block + CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * i;
    ConstantEntry e = {read_le32(entry), read_le32(entry + 4), read_le32(entry + 8)};
    return e;
}

static bool parse_constants_block(const unsigned char *block, size_t available, ConstantsView *view)
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
        const ConstantEntry e = read_constant_entry(block, i);
        if (e.offset < values_start || e.offset % CONSTANTS_VALUE_ALIGNMENT != 0 || e.offset > total ||
            e.size > total - e.offset) {
            return false;
        }
        if (e.key >= CONSTANT_KEY_LIMIT) {
            continue;
        }
        if (view->values[e.key] != NULL) {
            return false;
        }
        view->values[e.key] = block + e.offset;
        view->sizes[e.key] = e.size;
    }
    for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; key++) {
        if (view->values[key] == NULL || !is_text(view->values[key], view->sizes[key])) {
            return false;
        }
    }
    const unsigned char *message = view->values[CONSTANT_PROGRESS_MESSAGE];
    const uint32_t message_size = view->sizes[CONSTANT_PROGRESS_MESSAGE];
    if (message != NULL &&
        (!is_text(message, message_size) || message_size / 2 - 1 > PROGRESS_MESSAGE_LIMIT)) {
        return false;
    }
    uint32_t texts = 0;
    if ((view->values[CONSTANT_FIXED_ARGUMENTS] != NULL &&
         !check_text_list(view->values[CONSTANT_FIXED_ARGUMENTS], view->sizes[CONSTANT_FIXED_ARGUMENTS],
                          TEXT_LIST_ARGUMENTS, &texts)) ||
        (view->values[CONSTANT_ENVIRONMENT] != NULL &&
         !check_text_list(view->values[CONSTANT_ENVIRONMENT], view->sizes[CONSTANT_ENVIRONMENT],
                          TEXT_LIST_ENVIRONMENT, &texts))) {
        return false;
    }
    view->total_size = total;
    return true;
}

// The length in units of the text at `at`, whose 0 unit must lie before
// `end`; false when it does not.
static bool list_text_length(const unsigned char *at, const unsigned char *end, size_t *units)
{
    for (size_t i = 0; static_cast<size_t>(end - at) >= 2 * i + 2; i++) {
        if (read_le16(at + 2 * i) == 0) {
            *units = i;
            return true;
        }
    }
    return false;
}

bool check_text_list(const unsigned char *list, uint32_t size, TextListKind kind, uint32_t *count)
{
    if (size < 4) {
        return false;
    }
    const uint32_t n = read_le32(list);
    const unsigned char *at = list + 4;
    const unsigned char *end = list + size;
    // Walked text by text: a count larger than the value can hold fails at its end.
    for (uint32_t i = 0; i < n; i++) {
        size_t units = 0;
        if (!list_text_length(at, end, &units)) {
            return false;
        }
        if (kind == TEXT_LIST_ENVIRONMENT) {
            char16_t name[ENVIRONMENT_NAME_CAPACITY];
            if (units >= ENVIRONMENT_NAME_CAPACITY) {
                return false;
            }
            for (size_t u = 0; u < units; u++) {
                name[u] = static_cast<char16_t>(read_le16(at + 2 * u));
            }
            if (environment_name_problem(name, units) != NULL) {
                return false;
            }
            at += 2 * units + 2;
            if (!list_text_length(at, end, &units)) {
                return false;
            }
        }
        at += 2 * units + 2;
    }
    if (at != end) {
        return false;
    }
    *count = n;
    return true;
}

const unsigned char *first_list_text(const unsigned char *list)
{
    return list + 4;
}

const unsigned char *next_list_text(const unsigned char *text)
{
    while (read_le16(text) != 0) {
        text += 2;
    }
    return text + 2;
}

ConstantsCheck check_constants_block(const unsigned char *block, size_t available, ConstantsView *view)
{
    if (!parse_constants_block(block, available, view)) {
        return CONSTANTS_LAYOUT_BROKEN;
    }
    const uint32_t crc =
        libdeflate_crc32(0, block + CONSTANTS_CHECKED_FROM, view->total_size - CONSTANTS_CHECKED_FROM);
    return crc == read_le32(block + 12) ? CONSTANTS_WHOLE : CONSTANTS_CRC_MISMATCH;
}

const unsigned char *next_index_record(const unsigned char *at, IndexRecord *record)
{
    record->name_length = read_le16(at);
    record->name = at + 2;
    at += 2 + 2 * static_cast<size_t>(record->name_length);
    record->size = read_le64(at);
    record->stored_checksum = read_le32(at + 8);
    return at + 12;
}

bool check_record_index(const unsigned char *index, uint32_t size, uint32_t *count, uint32_t *records_crc)
{
    if (size < RECORD_INDEX_HEADER_SIZE) {
        return false;
    }
    const uint32_t n = read_le32(index);
    const uint32_t stored_crc = read_le32(index + 4);
    const unsigned char *at = index + RECORD_INDEX_HEADER_SIZE;
    const unsigned char *end = index + size;
    if (n == 0) {
        return false;
    }
    char16_t name[RECORD_NAME_CAPACITY];
    for (uint32_t i = 0; i < n; i++) {
        if (end - at < 2) {
            return false;
        }
        const uint32_t length = read_le16(at);
        if (length == 0 || length > RECORD_NAME_CAPACITY - 1 ||
            static_cast<size_t>(end - at) < 2 + 2 * static_cast<size_t>(length) + 12) {
            return false;
        }
        for (uint32_t u = 0; u < length; u++) {
            name[u] = static_cast<char16_t>(read_le16(at + 2 + 2 * u));
        }
        if (archive_name_problem(name, length) != NULL) {
            return false;
        }
        IndexRecord record;
        at = next_index_record(at, &record);
    }
    if (at != end || libdeflate_crc32(0, index + RECORD_INDEX_HEADER_SIZE, size - RECORD_INDEX_HEADER_SIZE) !=
                         stored_crc) {
        return false;
    }
    *count = n;
    *records_crc = stored_crc;
    return true;
}

static const ConstantUnit *text_value(const ConstantsView &view, ConstantKey key)
{
    return reinterpret_cast<const ConstantUnit *>(view.values[key]);
}

static uint32_t number_value(const ConstantsView &view, ConstantKey key, uint32_t absent)
{
    return view.values[key] != NULL && view.sizes[key] == 4 ? read_le32(view.values[key]) : absent;
}

// A checked list: its first text and count, or null and 0 when it is absent or empty.
static const ConstantUnit *list_value(const ConstantsView &view, ConstantKey key, uint32_t *count)
{
    const unsigned char *list = view.values[key];
    if (list == NULL || read_le32(list) == 0) {
        *count = 0;
        return NULL;
    }
    *count = read_le32(list);
    return reinterpret_cast<const ConstantUnit *>(first_list_text(list));
}

ConstantsCheck decode_build_constants(const unsigned char *block, size_t available, BuildConstants *constants)
{
    memset(constants, 0, sizeof *constants);
    ConstantsView view;
    const ConstantsCheck check = check_constants_block(block, available, &view);
    if (check != CONSTANTS_WHOLE) {
        return check;
    }
    BuildConstants *c = constants;
    c->target_spec = text_value(view, CONSTANT_TARGET_SPEC);
    c->company = text_value(view, CONSTANT_COMPANY);
    c->product = text_value(view, CONSTANT_PRODUCT);
    c->version = text_value(view, CONSTANT_VERSION);
    c->file_version = text_value(view, CONSTANT_FILE_VERSION);
    c->product_version = text_value(view, CONSTANT_PRODUCT_VERSION);
    const unsigned char *index = view.values[CONSTANT_RECORD_INDEX];
    if (index != NULL) {
        if (check_record_index(index, view.sizes[CONSTANT_RECORD_INDEX], &c->record_count,
                               &c->record_index_crc)) {
            c->record_index = index + RECORD_INDEX_HEADER_SIZE;
        } else {
            c->record_index_damaged = true;
        }
    }
    c->warm_check = number_value(view, CONSTANT_WARM_CHECK, WARM_CHECK_CONTENT);
    c->fixed_arguments = list_value(view, CONSTANT_FIXED_ARGUMENTS, &c->fixed_argument_count);
    c->environment = list_value(view, CONSTANT_ENVIRONMENT, &c->environment_count);
    if (view.values[CONSTANT_KEEP_BUILDS] != NULL && view.sizes[CONSTANT_KEEP_BUILDS] == 4) {
        const uint32_t keep = read_le32(view.values[CONSTANT_KEEP_BUILDS]);
        c->keep_builds = keep == 0 ? 1 : keep < KEEP_BUILDS_LIMIT ? keep : KEEP_BUILDS_LIMIT;
        c->remove_own_folder = keep == 0;
    }
    c->progress = number_value(view, CONSTANT_PROGRESS, 0);
    c->progress_message = text_value(view, CONSTANT_PROGRESS_MESSAGE);
    if (view.values[CONSTANT_LAUNCHER] != NULL) {
        c->launcher = view.values[CONSTANT_LAUNCHER];
        c->launcher_size = view.sizes[CONSTANT_LAUNCHER];
    }
    return CONSTANTS_WHOLE;
}
