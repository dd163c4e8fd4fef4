// wide_buffer.cpp: bounded appends into caller-owned UTF-16 buffers.
#include "common/wide_buffer.h"

#include <wchar.h>

#include "common/platform.h"

size_t bounded_wide_length(const wchar_t *buffer, size_t capacity)
{
    for (size_t i = 0; i < capacity; i++) {
        if (buffer[i] == L'\0') {
            return i;
        }
    }
    terminate_abnormally();
}

bool append_wide_units(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *text, size_t added)
{
    // The added units and the NUL after them must fit in what is left.
    if (*length >= capacity || added >= capacity - *length) {
        return false;
    }
    wmemcpy(buffer + *length, text, added);
    *length += added;
    buffer[*length] = L'\0';
    return true;
}

bool append_wide_if_fits(wchar_t *buffer, size_t capacity, const wchar_t *text)
{
    size_t used = bounded_wide_length(buffer, capacity);
    return append_wide_units(buffer, capacity, &used, text, wcslen(text));
}

void append_wide(wchar_t *buffer, size_t capacity, const wchar_t *text)
{
    if (!append_wide_if_fits(buffer, capacity, text)) {
        terminate_abnormally();
    }
}

void copy_wide(wchar_t *buffer, size_t capacity, const wchar_t *text)
{
    if (capacity == 0) {
        terminate_abnormally();
    }
    buffer[0] = L'\0';
    append_wide(buffer, capacity, text);
}

void append_wide_unit(wchar_t *buffer, size_t capacity, size_t *length, wchar_t unit)
{
    if (*length + 1 >= capacity) {
        terminate_abnormally();
    }
    buffer[*length] = unit;
    *length += 1;
    buffer[*length] = L'\0';
}

void append_wide_hex64(wchar_t *buffer, size_t capacity, size_t *length, uint64_t value)
{
    static const wchar_t HEX[] = L"0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) {
        append_wide_unit(buffer, capacity, length, HEX[(value >> shift) & 15]);
    }
}

size_t length_without_trailing_backslashes(const wchar_t *text, size_t length)
{
    while (length > 0 && text[length - 1] == L'\\') {
        length--;
    }
    return length;
}

size_t trim_trailing_backslashes(wchar_t *text, size_t length)
{
    length = length_without_trailing_backslashes(text, length);
    text[length] = L'\0';
    return length;
}
