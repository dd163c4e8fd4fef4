// expand.cpp: the path specification expander and its key table.
#include "pathspec/expand.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "build-info/build_info.h"
#include "launcher/platform.h"
#include "launcher/wide_buffer.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"

// Key characters and a NUL.
static const size_t KEY_CAPACITY = 1024;

enum KeyKind {
    KEY_TEMP,
    KEY_PROGRAM,
    KEY_PROGRAM_BASE,
    KEY_PROGRAM_DIR,
    KEY_PID,
    KEY_HOME,
    KEY_CACHE_DIR,
    KEY_COMPANY,
    KEY_PRODUCT,
    KEY_VERSION,
    KEY_FILE_VERSION,
    KEY_PRODUCT_VERSION,
    KEY_RANDOM,
    KEY_TIME_US,
    KEY_TIME,
    KEY_UNKNOWN
};

struct KeyEntry {
    const wchar_t *name;
    KeyKind kind;
    bool strip_trailing_backslashes;
};

static const KeyEntry KEY_TABLE[] = {
    {L"TEMP", KEY_TEMP, true},
    {L"PROGRAM", KEY_PROGRAM, false},
    {L"PROGRAM_BASE", KEY_PROGRAM_BASE, false},
    {L"PROGRAM_DIR", KEY_PROGRAM_DIR, false},
    {L"PID", KEY_PID, false},
    {L"HOME", KEY_HOME, true},
    {L"CACHE_DIR", KEY_CACHE_DIR, true},
    {L"COMPANY", KEY_COMPANY, false},
    {L"PRODUCT", KEY_PRODUCT, false},
    {L"VERSION", KEY_VERSION, false},
    {L"FILE_VERSION", KEY_FILE_VERSION, false},
    {L"PRODUCT_VERSION", KEY_PRODUCT_VERSION, false},
    {L"RANDOM", KEY_RANDOM, false},
    {L"TIME_US", KEY_TIME_US, false},
    {L"TIME", KEY_TIME, false},
};

static wchar_t ascii_upper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Whole-key comparison, folding ASCII letters only.
static bool key_equals(const wchar_t *key, const wchar_t *name)
{
    for (; *key != L'\0' && *name != L'\0'; key++, name++) {
        if (ascii_upper(*key) != ascii_upper(*name)) {
            return false;
        }
    }
    return *key == L'\0' && *name == L'\0';
}

static const KeyEntry *find_key(const wchar_t *key)
{
    for (size_t i = 0; i < sizeof KEY_TABLE / sizeof KEY_TABLE[0]; i++) {
        if (key_equals(key, KEY_TABLE[i].name)) {
            return &KEY_TABLE[i];
        }
    }
    return NULL;
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

// Appends the key's value at the end of the output, whose current text is
// `length` units long. False when the value cannot be had.
static bool append_key_value(wchar_t *output, size_t capacity, size_t length, KeyKind kind)
{
    wchar_t *end = output + length;
    size_t remaining = capacity - length;
    switch (kind) {
    case KEY_TEMP: {
        // Written straight into the remaining room; a path the platform did
        // not write (no room, or a failure) leaves the value empty.
        DWORD written = GetTempPathW(static_cast<DWORD>(remaining), end);
        if (written == 0 || written >= remaining) {
            *end = L'\0';
        }
        return true;
    }
    case KEY_PROGRAM:
        // Written by the platform straight into the remaining room; a path it
        // had to cut fails like no path at all.
        return read_own_path(end, remaining);
    case KEY_PROGRAM_BASE:
    case KEY_PROGRAM_DIR: {
        if (!expand_path_spec(end, L"{PROGRAM}", remaining)) {
            return false;
        }
        size_t value_length = wcslen(end);
        if (kind == KEY_PROGRAM_BASE) {
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
    case KEY_HOME:
        return append_known_folder(output, CSIDL_PROFILE, capacity);
    case KEY_CACHE_DIR:
        return append_known_folder(output, CSIDL_LOCAL_APPDATA, capacity);
    case KEY_COMPANY:
        append_wide(output, capacity, zobrel_company);
        return true;
    case KEY_PRODUCT:
        append_wide(output, capacity, zobrel_product);
        return true;
    case KEY_VERSION:
        append_wide(output, capacity, zobrel_version);
        return true;
    case KEY_FILE_VERSION:
        append_wide(output, capacity, zobrel_file_version);
        return true;
    case KEY_PRODUCT_VERSION:
        append_wide(output, capacity, zobrel_product_version);
        return true;
    case KEY_PID:
        append_run_value(output, capacity, RUN_VALUE_PID);
        return true;
    case KEY_RANDOM:
        append_run_value(output, capacity, RUN_VALUE_RANDOM);
        return true;
    case KEY_TIME_US:
        append_run_value(output, capacity, RUN_VALUE_TIME_US);
        return true;
    case KEY_TIME:
        append_run_value(output, capacity, RUN_VALUE_TIME);
        return true;
    case KEY_UNKNOWN:
        break;
    }
    return false;
}

bool expand_path_spec(wchar_t *output, const wchar_t *spec, size_t capacity)
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
            const KeyEntry *entry = find_key(key);
            if (entry == NULL || !append_key_value(output, capacity, length, entry->kind)) {
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
