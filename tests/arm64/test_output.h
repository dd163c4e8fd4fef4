// test_output.h: what the ARM64 test programs share: text on a standard
// handle through WriteFile (no variadic call into the C runtime), numbers in
// hex, and the "--exit=HEX" argument.
#ifndef ZOBREL_TESTS_ARM64_TEST_OUTPUT_H
#define ZOBREL_TESTS_ARM64_TEST_OUTPUT_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Writes the bytes, or the UTF-16 text as UTF-8, whole, on the handle.
void write_bytes(HANDLE out, const char *bytes, size_t length);
void write_text(HANDLE out, const char *text);
void write_wide(HANDLE out, const wchar_t *text, size_t length);

// "0x" and eight hex digits, into a buffer of at least 11 characters.
void format_hex32(uint32_t value, char *buffer);

// The value of "--exit=HEX" (a hex number, with or without "0x"); false when
// text is no such argument.
bool parse_exit_argument(const wchar_t *text, uint32_t *code);

#endif
