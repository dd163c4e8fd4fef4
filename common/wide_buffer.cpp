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

bool append_wide_if_fits(wchar_t *buffer, size_t capacity, const wchar_t *text)
{
    size_t used = bounded_wide_length(buffer, capacity);
    size_t added = wcslen(text);
    // The added units and the NUL after them must fit in what is left.
    if (added >= capacity - used) {
        return false;
    }
    wmemcpy(buffer + used, text, added);
    buffer[used + added] = L'\0';
    return true;
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
