// argument_quoting.cpp: writes one argument into a Windows command line.
#include "argument_quoting.h"

bool argument_needs_quotes(const char16_t *argument, size_t length)
{
    if (length == 0) {
        return true;
    }
    for (size_t i = 0; i < length; i++) {
        switch (argument[i]) {
        case u' ':
        case u'\t':
        case u'\n':
        case u'\v':
        case u'"':
            return true;
        default:
            break;
        }
    }
    return false;
}

// Writes the written form to out, unless out is null, and returns its length.
static size_t write_argument(const char16_t *argument, size_t length, bool quoted, char16_t *out)
{
    size_t n = 0;
    if (!quoted) {
        for (size_t i = 0; i < length; i++, n++) {
            if (out != NULL) {
                out[n] = argument[i];
            }
        }
        return n;
    }
    if (out != NULL) {
        out[n] = u'"';
    }
    n++;
    size_t i = 0;
    for (;;) {
        size_t backslashes = 0;
        while (i < length && argument[i] == u'\\') {
            backslashes++;
            i++;
        }
        // Before the closing quote or a quote of the text each backslash is
        // doubled, so that none of them escapes the quote; elsewhere they stand.
        const bool at_end = i == length;
        const size_t written = at_end                ? 2 * backslashes
                               : argument[i] == u'"' ? 2 * backslashes + 1
                                                     : backslashes;
        for (size_t b = 0; b < written; b++, n++) {
            if (out != NULL) {
                out[n] = u'\\';
            }
        }
        if (out != NULL) {
            out[n] = at_end ? u'"' : argument[i];
        }
        n++;
        if (at_end) {
            return n;
        }
        i++;
    }
}

static bool quoted(const char16_t *argument, size_t length, ArgumentQuoting quoting)
{
    return quoting == QUOTE_ALWAYS || argument_needs_quotes(argument, length);
}

size_t quoted_argument_length(const char16_t *argument, size_t length, ArgumentQuoting quoting)
{
    return write_argument(argument, length, quoted(argument, length, quoting), NULL);
}

bool append_quoted_argument(char16_t *out, size_t capacity, size_t *length, const char16_t *argument,
                            size_t argument_length, ArgumentQuoting quoting)
{
    const bool in_quotes = quoted(argument, argument_length, quoting);
    const size_t units = write_argument(argument, argument_length, in_quotes, NULL);
    if (*length >= capacity || capacity - *length < units + 1) {
        return false;
    }
    write_argument(argument, argument_length, in_quotes, out + *length);
    *length += units;
    out[*length] = u'\0';
    return true;
}
