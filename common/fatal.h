// fatal.h: the only ways the launcher ends early. None of these returns,
// except print_error_with_code, which only writes.
//
// Exit status 2 goes through the runtime library's normal exit, which flushes
// a buffered standard output. Abnormal termination (terminate_abnormally in
// common/platform.h) prints nothing and ends with status 0xC0000409.
// Both standard streams stay in text mode: each "\n" leaves as CR LF.
// Inserted paths and specifications are narrowed in the runtime's locale;
// a character it cannot carry shows as '?'.
#ifndef ZOBREL_COMMON_FATAL_H
#define ZOBREL_COMMON_FATAL_H

#include "common/platform.h"

// Writes the message and a newline to standard output; exit status 2.
// The message is not a format: a percent sign is written as it is.
ZOBREL_NORETURN void fatal_error(const char *message);

// Writes "%s ([Error %ld] %s)\n" to standard error with the message, the code
// as a signed 32-bit decimal and the system's English text for the code with
// its trailing CR/LF run removed (an empty text when the system has none).
// Returns the result of the write.
int print_error_with_code(const char *message, unsigned long code);

// Cuts the run of CR and LF characters at the end of the text of the given
// length (characters before that run stay, line breaks among them).
void trim_trailing_line_breaks(char *text, unsigned long length);

// print_error_with_code, then exit status 2.
ZOBREL_NORETURN void fatal_error_with_code(const char *message, unsigned long code);

// "Error, failed to open '%ls' for writing.\n" on standard error; exit status 2.
ZOBREL_NORETURN void fatal_open_error(const wchar_t *path);

// "Error, couldn't runtime expand spec '%ls'.\n" on standard error with the
// unexpanded specification, then abnormal termination.
ZOBREL_NORETURN void fatal_expand_error(const wchar_t *spec);

// fatal_error with "Error, couldn't decode attached data."
ZOBREL_NORETURN void fatal_decode_error();

// fatal_error with "Error, couldn't find attached data header."
ZOBREL_NORETURN void fatal_header_error();

// fatal_error with "Error, couldn't allocate memory."
ZOBREL_NORETURN void fatal_memory_error();

// Reads the last system error code first, then fatal_error_with_code with
// "Error, couldn't unpack file to target path."
ZOBREL_NORETURN void fatal_write_error();

#endif
