// command_text.cpp: expands the build's fixed arguments and environment values.
#include "pathspec/command_text.h"

#include <windows.h>
#include <wchar.h>

#include "environment_name.h"
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

// Appends the value of the variable named by the `length` units at name, as
// the launcher's environment holds it: the one it was started with, since the
// launcher sets only ZOBREL_ variables before the child's values are
// expanded, and no build may name one of those (environment_name.h).
static CommandTextResult append_variable(wchar_t *output, size_t capacity, size_t *length,
                                         const wchar_t *name, size_t name_length)
{
    wchar_t name_text[ENVIRONMENT_NAME_CAPACITY];
    if (name_length == 0 || name_length >= ENVIRONMENT_NAME_CAPACITY) {
        return COMMAND_TEXT_NOT_EXPANDED;
    }
    wmemcpy(name_text, name, name_length);
    name_text[name_length] = L'\0';
    const size_t room = capacity - *length;
    const DWORD got = GetEnvironmentVariableW(name_text, output + *length, static_cast<DWORD>(room));
    if (got >= room) {
        output[*length] = L'\0';
        return COMMAND_TEXT_TOO_LONG;
    }
    // 0 is an unset variable as well as an empty one: both give no text.
    *length += got;
    output[*length] = L'\0';
    return COMMAND_TEXT_EXPANDED;
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
        if (close == NULL || (reopen != NULL && reopen < close)) {
            return COMMAND_TEXT_NOT_EXPANDED;
        }
        if (is_environment_key(p + 1, key_length)) {
            const CommandTextResult result = append_variable(
                output, capacity, &length, p + 1 + ENV_KEY_PREFIX_LENGTH, key_length - ENV_KEY_PREFIX_LENGTH);
            if (result != COMMAND_TEXT_EXPANDED) {
                return result;
            }
            p = close;
            continue;
        }
        if (key_length + 3 > PLACEHOLDER_CAPACITY) {
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
