// expand.cpp: the path specification expander and its key table.
#include "pathspec/expand.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/launch_context.h"
#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"
#include "spec_keys.h"

// Key characters and a NUL.
static const size_t KEY_CAPACITY = 1024;

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
static bool append_key_value(const LaunchContext *context, wchar_t *output, size_t capacity, size_t length,
                             SpecKeyId kind)
{
    const BuildInfo &build = context->build;
    wchar_t *end = output + length;
    size_t remaining = capacity - length;
    switch (kind) {
    case SPEC_KEY_TEMP: {
        // Written straight into the remaining room. A path the platform did
        // not write (no room, or a failure) fails like a missing user folder:
        // an empty value would put the unpack directory somewhere else, such
        // as the root of the current drive.
        DWORD written = GetTempPathW(static_cast<DWORD>(remaining), end);
        if (written == 0 || written >= remaining) {
            *end = L'\0';
            return false;
        }
        return true;
    }
    case SPEC_KEY_PROGRAM:
        return put_own_path(context->process, end, remaining);
    case SPEC_KEY_PROGRAM_BASE:
    case SPEC_KEY_PROGRAM_DIR: {
        if (!expand_path_spec(context, end, L"{PROGRAM}", remaining)) {
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
        return append_known_folder(output, CSIDL_PROFILE, capacity);
    case SPEC_KEY_CACHE_DIR:
        return append_known_folder(output, CSIDL_LOCAL_APPDATA, capacity);
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

bool expand_path_spec(const LaunchContext *context, wchar_t *output, const wchar_t *spec, size_t capacity)
{
    if (capacity == 0) {
        terminate_abnormally();
    }
    output[0] = L'\0';
    size_t length = 0;
    wchar_t key[KEY_CAPACITY];
    size_t key_length = 0;
    bool in_placeholder = false;

    for (const wchar_t *p = spec; *p != L'\0'; p++) {
        wchar_t c = *p;
        if (c == L'{') {
            // A "{" inside an open placeholder starts it over.
            in_placeholder = true;
            key_length = 0;
        } else if (in_placeholder && c == L'}') {
            key[key_length] = L'\0';
            in_placeholder = false;
            const SpecKey *entry = find_spec_key(key);
            if (entry == NULL || !append_key_value(context, output, capacity, length, entry->id)) {
                return false;
            }
            length = bounded_wide_length(output, capacity);
            if (entry->strip_trailing_backslashes) {
                // Over the whole output: a backslash before an empty value goes too.
                while (length > 0 && output[length - 1] == L'\\') {
                    output[--length] = L'\0';
                }
            }
        } else if (in_placeholder) {
            if (key_length + 1 >= KEY_CAPACITY) {
                return false;  // no key of the table is this long
            }
            key[key_length++] = c;
        } else if (c == L'}') {
            return false;  // a stray "}" is as wrong as an unknown key
        } else {
            // A literal needs room for itself and a NUL.
            if (capacity - length < 2) {
                return false;
            }
            output[length++] = c;
            output[length] = L'\0';
        }
    }
    return true;
}
