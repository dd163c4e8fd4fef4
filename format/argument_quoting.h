// argument_quoting.h: how one argument is written into a Windows command
// line so that the platform's splitting (CommandLineToArgvW) and the C
// runtime's both give it back unchanged. Shared by the launcher, which
// writes the child's command line, and the packer, which shows fixed
// arguments as they will be written and checks that they fit.
//
// - An argument that is not empty and holds no space, tab, line feed,
//   vertical tab or double quote is written as it is (when quoting is not
//   asked for regardless).
// - Any other is written between double quotes, where a run of n
//   backslashes followed by a double quote becomes 2n + 1 backslashes and
//   the quote, a run of n backslashes at the end becomes 2n (the closing
//   quote follows), and every other unit stays as it is. An empty argument
//   is "".
#ifndef ZOBREL_FORMAT_ARGUMENT_QUOTING_H
#define ZOBREL_FORMAT_ARGUMENT_QUOTING_H

#include <stddef.h>

// Units of text a Windows command line holds, its NUL not counted.
static const size_t COMMAND_LINE_LIMIT = 32767;

enum ArgumentQuoting {
    QUOTE_WHEN_NEEDED,
    // Between quotes even when the rule does not ask for them: a program
    // name that the rest of the line follows without a space.
    QUOTE_ALWAYS,
};

// True when the argument of `length` units must be written between quotes.
bool argument_needs_quotes(const char16_t *argument, size_t length);

// The units the argument takes when written by the rule.
size_t quoted_argument_length(const char16_t *argument, size_t length, ArgumentQuoting quoting);

// Writes the argument by the rule at out[*length] and a NUL after it, and
// adds its length to *length, when it and the NUL fit in the buffer's
// `capacity` units. False when they do not: then nothing is written.
bool append_quoted_argument(char16_t *out, size_t capacity, size_t *length, const char16_t *argument,
                            size_t argument_length, ArgumentQuoting quoting);

#endif
