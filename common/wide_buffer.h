// wide_buffer.h: bounded appends into caller-owned UTF-16 buffers.
//
// A wide buffer is a fixed array of wchar_t holding NUL-terminated text; its
// capacity counts units, the terminating NUL included. Every append checks the
// bound before it writes: text that does not fit ends the process through
// terminate_abnormally() and is never truncated.
#ifndef ZOBREL_COMMON_WIDE_BUFFER_H
#define ZOBREL_COMMON_WIDE_BUFFER_H

#include <stddef.h>
#include <stdint.h>

#include "capacities.h"

// Appends the `added` units of text at *length (the buffer's current text
// length, kept by the caller) and a NUL after them, and adds them to
// *length. False, the buffer untouched, when they and the NUL do not fit.
bool append_wide_units(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *text, size_t added);

// Appends the NUL-terminated text at the end of the buffer's current text.
// The buffer must hold a NUL within its capacity; ends the process if the
// text and its NUL do not fit.
void append_wide(wchar_t *buffer, size_t capacity, const wchar_t *text);

// The same for work that may give up (tidying): false, the buffer
// untouched, when the text and its NUL do not fit.
bool append_wide_if_fits(wchar_t *buffer, size_t capacity, const wchar_t *text);

// Replaces the buffer's text by a copy of the text; same bound as append_wide.
void copy_wide(wchar_t *buffer, size_t capacity, const wchar_t *text);

// Length of the buffer's text, which must end within the capacity; ends the
// process if no NUL lies within the capacity.
size_t bounded_wide_length(const wchar_t *buffer, size_t capacity);

// Appends one unit at *length (the buffer's current text length, kept by the
// caller for long texts) and a NUL after it; ends the process if the unit
// and its NUL do not fit.
void append_wide_unit(wchar_t *buffer, size_t capacity, size_t *length, wchar_t unit);

// Appends the value as 16 lower-case hex digits, most significant first, the
// same way as append_wide_unit.
void append_wide_hex64(wchar_t *buffer, size_t capacity, size_t *length, uint64_t value);

// The length of the `length` units at text without the backslashes they end
// in, all of them.
size_t length_without_trailing_backslashes(const wchar_t *text, size_t length);

// Drops the backslashes the text of `length` units ends in and puts a NUL
// after what is left, whose length it returns.
size_t trim_trailing_backslashes(wchar_t *text, size_t length);

#endif
