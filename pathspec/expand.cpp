// expand.cpp: the path specification expander and its key table.
#include "pathspec/expand.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/launch_shared.h"
#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/environment.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"
#include "placeholder_tokens.h"

static wchar_t ascii_upper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

static bool ends_with_exe(const wchar_t *text, size_t length)
{
    if (length < 4) {
        return false;
    }
    const wchar_t *tail = text + length - 4;
    return tail[0] == L'.' && ascii_upper(tail[1]) == L'E' && ascii_upper(tail[2]) == L'X' &&
           ascii_upper(tail[3]) == L'E';
}

// Whether the setting the platform takes the temporary folder from is
// absolute: the first of TMP, TEMP and USERPROFILE that is set, in the
// order GetTempPathW looks at them (without any, the Windows folder, which
// is). The platform makes a relative setting absolute against the current
// folder, which would unpack wherever the launcher happens to be started.
static bool temp_setting_is_absolute()
{
    static const char *const names[] = {"TMP", "TEMP", "USERPROFILE"};
    for (const char *name : names) {
        wchar_t *value = get_env_var(name);
        if (value != NULL) {
            bool absolute = is_absolute_path(value);
            free(value);
            return absolute;
        }
    }
    return true;
}

// Appends the per-user folder when the platform has it and it is absolute:
// a relative one would be taken against the current folder.
static bool append_absolute_known_folder(wchar_t *output, size_t length, int folder_id, size_t capacity)
{
    if (!append_known_folder(output, folder_id, capacity)) {
        return false;
    }
    if (!is_absolute_path(output + length)) {
        output[length] = L'\0';
        return false;
    }
    return true;
}

static void append_run_value(wchar_t *output, size_t capacity, RunValueKey key)
{
    wchar_t *value = resolve_run_value(key);
    append_wide(output, capacity, value);
    free(value);
}

// Puts the launcher's own path at `end`, where `remaining` units are left.
// A path that was not had whole, or does not fit, fails like no path at all.
static bool put_own_path(const ProcessFacts &facts, wchar_t *end, size_t remaining)
{
    size_t length = wcslen(facts.own_path);
    if (!facts.own_path_known || length >= remaining) {
        return false;
    }
    wmemcpy(end, facts.own_path, length + 1);
    return true;
}

// Appends the key's value at the end of the output, whose current text is
// `length` units long. False when the value cannot be had.
static bool append_key_value(const LaunchShared *launch, wchar_t *output, size_t capacity, size_t length,
                             SpecKeyId kind)
{
    const BuildInfo &build = launch->build;
    wchar_t *end = output + length;
    size_t remaining = capacity - length;
    switch (kind) {
    case SPEC_KEY_TEMP: {
        // Written straight into the remaining room. A path the platform did
        // not write (no room, or a failure) fails like a missing user folder:
        // an empty value would put the unpack directory somewhere else, such
        // as the root of the current drive.
        DWORD written = GetTempPathW(static_cast<DWORD>(remaining), end);
        if (written == 0 || written >= remaining || !is_absolute_path(end) || !temp_setting_is_absolute()) {
            *end = L'\0';
            return false;
        }
        return true;
    }
    case SPEC_KEY_PROGRAM:
        return put_own_path(launch->process, end, remaining);
    case SPEC_KEY_PROGRAM_BASE:
    case SPEC_KEY_PROGRAM_DIR: {
        if (!put_own_path(launch->process, end, remaining)) {
            return false;
        }
        size_t value_length = wcslen(end);
        if (kind == SPEC_KEY_PROGRAM_BASE) {
            if (ends_with_exe(end, value_length)) {
                end[value_length - 4] = L'\0';
            }
        } else {
            wchar_t *last_backslash = wcsrchr(end, L'\\');
            if (last_backslash != NULL) {
                *last_backslash = L'\0';
            }
        }
        return true;
    }
    case SPEC_KEY_HOME:
        return append_absolute_known_folder(output, length, CSIDL_PROFILE, capacity);
    case SPEC_KEY_CACHE_DIR:
        return append_absolute_known_folder(output, length, CSIDL_LOCAL_APPDATA, capacity);
    case SPEC_KEY_COMPANY:
        append_wide(output, capacity, build.company);
        return true;
    case SPEC_KEY_PRODUCT:
        append_wide(output, capacity, build.product);
        return true;
    case SPEC_KEY_VERSION:
        append_wide(output, capacity, build.version);
        return true;
    case SPEC_KEY_FILE_VERSION:
        append_wide(output, capacity, build.file_version);
        return true;
    case SPEC_KEY_PRODUCT_VERSION:
        append_wide(output, capacity, build.product_version);
        return true;
    case SPEC_KEY_PID:
        append_run_value(output, capacity, RUN_VALUE_PID);
        return true;
    case SPEC_KEY_RANDOM:
        append_run_value(output, capacity, RUN_VALUE_RANDOM);
        return true;
    case SPEC_KEY_TIME_US:
        append_run_value(output, capacity, RUN_VALUE_TIME_US);
        return true;
    case SPEC_KEY_TIME:
        append_run_value(output, capacity, RUN_VALUE_TIME);
        return true;
    case SPEC_KEY_UNPACK_DIR:  // what a target specification names; expand_command_text gives it
    case SPEC_KEY_COUNT:
        break;
    }
    return false;
}

// Appends the key's value at the end of the output (`*length` units), then,
// for a key that drops them, the backslashes at the end of the whole
// output: one before an empty value goes too.
static bool append_key(const LaunchShared *launch, wchar_t *output, size_t capacity, size_t *length,
                       const SpecKey *key)
{
    if (!append_key_value(launch, output, capacity, *length, key->id)) {
        return false;
    }
    *length = bounded_wide_length(output, capacity);
    if (key->strip_trailing_backslashes) {
        *length = trim_trailing_backslashes(output, *length);
    }
    return true;
}

bool expand_spec_key(const LaunchShared *launch, wchar_t *output, size_t capacity, const SpecKey *key)
{
    if (capacity == 0) {
        terminate_abnormally();
    }
    output[0] = L'\0';
    size_t length = 0;
    return append_key(launch, output, capacity, &length, key);
}

bool expand_path_spec(const LaunchShared *launch, wchar_t *output, const wchar_t *spec, size_t capacity)
{
    if (capacity == 0) {
        terminate_abnormally();
    }
    output[0] = L'\0';
    size_t length = 0;
    // wchar_t is a UTF-16 unit on this platform.
    const char16_t *units = reinterpret_cast<const char16_t *>(spec);
    const size_t spec_length = wcslen(spec);
    PlaceholderToken token;
    for (size_t at = 0; next_placeholder_token(units, spec_length, &at, &token);) {
        switch (token.kind) {
        case PLACEHOLDER_TEXT:
            // Unit by unit: those that fit stay when one does not.
            for (size_t i = 0; i < token.length; i++) {
                // A literal needs room for itself and a NUL.
                if (capacity - length < 2) {
                    return false;
                }
                output[length++] = spec[token.start + i];
                output[length] = L'\0';
            }
            break;
        case PLACEHOLDER_KEY:
            if (!append_key(launch, output, capacity, &length, token.key)) {
                return false;
            }
            break;
        case PLACEHOLDER_REOPENED:
        case PLACEHOLDER_UNCLOSED:
            // A "{" inside a placeholder starts it over, and one still open
            // at the end is dropped; only a text too long for the key
            // buffer fails, as it would not fit there.
            if (token.key_length > PLACEHOLDER_KEY_LIMIT) {
                return false;
            }
            break;
        case PLACEHOLDER_ARGUMENT_KEY:  // {ENV:NAME}: for fixed arguments and environment values only
        case PLACEHOLDER_UNKNOWN_KEY:
        case PLACEHOLDER_KEY_TOO_LONG:
        case PLACEHOLDER_STRAY_CLOSE:  // as wrong as an unknown key
            return false;
        }
    }
    return true;
}
