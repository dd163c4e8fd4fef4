// command_text.cpp: expands the build's fixed arguments and environment values.
#include "pathspec/command_text.h"

#include <windows.h>
#include <wchar.h>

#include "common/wide_buffer.h"
#include "environment_name.h"
#include "pathspec/expand.h"
#include "placeholder_tokens.h"

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

CommandTextResult expand_command_text(const LaunchShared *launch, wchar_t *output, size_t capacity,
                                      const wchar_t *text, wchar_t *key_value, size_t key_capacity)
{
    output[0] = L'\0';
    size_t length = 0;
    // wchar_t is a UTF-16 unit on this platform.
    const char16_t *units = reinterpret_cast<const char16_t *>(text);
    const size_t text_length = wcslen(text);
    PlaceholderToken token;
    for (size_t at = 0; next_placeholder_token(units, text_length, &at, &token);) {
        const wchar_t *value = text + token.start;
        size_t value_length = token.length;
        switch (token.kind) {
        case PLACEHOLDER_TEXT:
            break;
        case PLACEHOLDER_ARGUMENT_KEY: {  // {ENV:NAME}, the one key with an argument
            const CommandTextResult result = append_variable(
                output, capacity, &length, text + token.argument_start, token.argument_length);
            if (result != COMMAND_TEXT_EXPANDED) {
                return result;
            }
            continue;
        }
        case PLACEHOLDER_KEY:
            if (token.key->id == SPEC_KEY_UNPACK_DIR) {
                // It may end in backslashes, which go anyway (below): they
                // need no room.
                value = launch->unpack_directory;
                value_length = length_without_trailing_backslashes(value, wcslen(value));
            } else {
                if (!expand_spec_key(launch, key_value, key_capacity, token.key)) {
                    return COMMAND_TEXT_NOT_EXPANDED;
                }
                value = key_value;
                value_length = wcslen(key_value);
            }
            break;
        case PLACEHOLDER_UNKNOWN_KEY:
        case PLACEHOLDER_KEY_TOO_LONG:
        case PLACEHOLDER_REOPENED:  // unlike a path, nothing here is silently dropped
        case PLACEHOLDER_STRAY_CLOSE:
        case PLACEHOLDER_UNCLOSED:
            return COMMAND_TEXT_NOT_EXPANDED;
        }
        if (!append_wide_units(output, capacity, &length, value, value_length)) {
            return COMMAND_TEXT_TOO_LONG;
        }
        if (token.key != NULL && token.key->strip_trailing_backslashes) {
            length = trim_trailing_backslashes(output, length);
        }
    }
    return COMMAND_TEXT_EXPANDED;
}
