// command_text.cpp: expands the build's fixed arguments and environment values.
#include "pathspec/command_text.h"

#include <wchar.h>

#include "pathspec/expand.h"
#include "spec_keys.h"

// Units of "{KEY}" and a NUL for the longest key of the table, and more.
static const size_t PLACEHOLDER_CAPACITY = 32;

// Appends the first `added` units of text at output[*length] when they and
// a NUL fit.
static bool append_fitting(wchar_t *output, size_t capacity, size_t *length, const wchar_t *text,
                           size_t added)
{
    if (added >= capacity - *length) {
        return false;
    }
    wmemcpy(output + *length, text, added);
    *length += added;
    output[*length] = L'\0';
    return true;
}

CommandTextResult expand_command_text(const LaunchContext *context, wchar_t *output, size_t capacity,
                                      const wchar_t *text, wchar_t *key_value, size_t key_capacity)
{
    output[0] = L'\0';
    size_t length = 0;
    for (const wchar_t *p = text; *p != L'\0'; p++) {
        if (*p == L'}') {
            return COMMAND_TEXT_NOT_EXPANDED;
        }
        if (*p != L'{') {
            if (capacity - length < 2) {
                return COMMAND_TEXT_TOO_LONG;
            }
            output[length++] = *p;
            output[length] = L'\0';
            continue;
        }
        // "{KEY}", copied out on its own and expanded alone. No key of the
        // table is longer than the copy's room.
        const wchar_t *close = wcschr(p, L'}');
        const wchar_t *reopen = wcschr(p + 1, L'{');
        const size_t key_length = close == NULL ? 0 : static_cast<size_t>(close - p - 1);
        wchar_t placeholder[PLACEHOLDER_CAPACITY];
        if (close == NULL || (reopen != NULL && reopen < close) || key_length + 3 > PLACEHOLDER_CAPACITY) {
            return COMMAND_TEXT_NOT_EXPANDED;
        }
        wmemcpy(placeholder, p, key_length + 2);
        placeholder[key_length + 2] = L'\0';
        placeholder[key_length + 1] = L'\0';
        const SpecKey *entry = find_spec_key(placeholder + 1);
        if (entry == NULL) {
            return COMMAND_TEXT_NOT_EXPANDED;
        }
        placeholder[key_length + 1] = L'}';
        const wchar_t *value = context->unpack_directory;
        if (entry->id != SPEC_KEY_UNPACK_DIR) {
            if (!expand_path_spec(context, key_value, placeholder, key_capacity)) {
                return COMMAND_TEXT_NOT_EXPANDED;
            }
            value = key_value;
        }
        // The unpack directory may end in backslashes, which go anyway (below).
        size_t value_length = wcslen(value);
        while (entry->id == SPEC_KEY_UNPACK_DIR && value_length > 0 && value[value_length - 1] == L'\\') {
            value_length--;
        }
        if (!append_fitting(output, capacity, &length, value, value_length)) {
            return COMMAND_TEXT_TOO_LONG;
        }
        if (entry->strip_trailing_backslashes) {
            while (length > 0 && output[length - 1] == L'\\') {
                output[--length] = L'\0';
            }
        }
        p = close;
    }
    return COMMAND_TEXT_EXPANDED;
}
