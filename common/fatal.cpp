// fatal.cpp: reports a fatal condition on its stream and ends the process.
#include "common/fatal.h"

#include <windows.h>
#include <stdio.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

static const int FATAL_EXIT_STATUS = 2;

// Room for a launcher path (4097 units) at up to 4 bytes each.
static char g_message_text[4097 * 4 + 1];

// "%ls" stops a path at its first character the narrow stream cannot carry,
// which would show a wrong path; such characters come out as '?' instead.
// Characters the runtime's locale can carry come out as "%ls" gives them.
static const char *narrow_for_message(const wchar_t *text)
{
    size_t used = 0;
    for (const wchar_t *p = text; *p != L'\0'; p++) {
        char bytes[MB_LEN_MAX];
        int n = wctomb(bytes, *p);
        if (n <= 0) {
            bytes[0] = '?';
            n = 1;
        }
        if (used + static_cast<size_t>(n) >= sizeof g_message_text) {
            break;
        }
        memcpy(g_message_text + used, bytes, static_cast<size_t>(n));
        used += static_cast<size_t>(n);
    }
    g_message_text[used] = '\0';
    return g_message_text;
}

void fatal_error(const char *message)
{
    puts(message);
    exit(FATAL_EXIT_STATUS);
}

void trim_trailing_line_breaks(char *text, unsigned long length)
{
    for (unsigned long i = length; i > 0 && (text[i - 1] == '\r' || text[i - 1] == '\n'); i--) {
        text[i - 1] = '\0';
    }
}

int print_error_with_code(const char *message, unsigned long code)
{
    char *text = NULL;
    // English (1033) on every system, so that reports read the same everywhere;
    // the system allocates the text, which is never freed: the process ends next.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  /* lpSource */ NULL, code,
                                  /* dwLanguageId */ MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<char *>(&text), /* nSize */ 0,
                                  /* Arguments */ NULL);
    if (length > 0 && text != NULL) {
        trim_trailing_line_breaks(text, length);
    } else {
        // No text for this code in English: print an empty text.
        text = NULL;
    }
    return fprintf(stderr, "%s ([Error %ld] %s)\n", message, static_cast<long>(code),
                   text != NULL ? text : "");
}

void fatal_error_with_code(const char *message, unsigned long code)
{
    print_error_with_code(message, code);
    exit(FATAL_EXIT_STATUS);
}

void fatal_open_error(const wchar_t *path)
{
    fprintf(stderr, "Error, failed to open '%s' for writing.\n", narrow_for_message(path));
    exit(FATAL_EXIT_STATUS);
}

void fatal_expand_error(const wchar_t *spec)
{
    // Standard error is unbuffered, so the line is complete before the end.
    fprintf(stderr, "Error, couldn't runtime expand spec '%s'.\n", narrow_for_message(spec));
    terminate_abnormally();
}

void fatal_decode_error()
{
    fatal_error("Error, couldn't decode attached data.");
}

void fatal_header_error()
{
    fatal_error("Error, couldn't find attached data header.");
}

void fatal_memory_error()
{
    fatal_error("Error, couldn't allocate memory.");
}

void fatal_write_error()
{
    DWORD code = GetLastError();
    fatal_error_with_code("Error, couldn't unpack file to target path.", code);
}
