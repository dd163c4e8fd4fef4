// failure_report.cpp: the table of failure messages and ends, and the console's reporter.
#include "launcher/failure_report.h"

#include <windows.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum MessageForm {
    MESSAGE_PLAIN,        // the text alone
    MESSAGE_WITH_DETAIL,  // the text, the detail, then after_detail
    MESSAGE_WITH_CODE,    // the text, then the code and the system's text for it
};

enum LaunchEnd {
    END_EXIT_STATUS_2,
    END_ABNORMALLY,
};

struct FailureMessage {
    FailureKind kind;
    const char *text;
    const char *after_detail;
    MessageForm form;
    ReportStream stream;
    LaunchEnd end;
};

// Payload problems on standard output; files and system errors, with the
// system's code and text, on standard error.
static const FailureMessage FAILURE_MESSAGES[] = {
    {FAILURE_HEADER, "Error, couldn't find attached data header.", NULL, MESSAGE_PLAIN,
     REPORT_STANDARD_OUTPUT, END_EXIT_STATUS_2},
    {FAILURE_DECODE, "Error, couldn't decode attached data.", NULL, MESSAGE_PLAIN, REPORT_STANDARD_OUTPUT,
     END_EXIT_STATUS_2},
    {FAILURE_MEMORY, "Error, couldn't allocate memory.", NULL, MESSAGE_PLAIN, REPORT_STANDARD_OUTPUT,
     END_EXIT_STATUS_2},
    {FAILURE_SIGNAL_HANDLER, "Error, failed to register signal handler.", NULL, MESSAGE_PLAIN,
     REPORT_STANDARD_OUTPUT, END_EXIT_STATUS_2},
    {FAILURE_OPEN, "Error, failed to open '", "' for writing.", MESSAGE_WITH_DETAIL, REPORT_STANDARD_ERROR,
     END_EXIT_STATUS_2},
    {FAILURE_WRITE, "Error, couldn't unpack file to target path.", NULL, MESSAGE_WITH_CODE,
     REPORT_STANDARD_ERROR, END_EXIT_STATUS_2},
    {FAILURE_LOCK, "Error, couldn't lock the unpack directory", NULL, MESSAGE_WITH_CODE,
     REPORT_STANDARD_ERROR, END_EXIT_STATUS_2},
    {FAILURE_LAUNCH, "Error, couldn't launch child", NULL, MESSAGE_WITH_CODE, REPORT_STANDARD_ERROR,
     END_EXIT_STATUS_2},
    // The specification could not give the unpack directory: nothing may be
    // unpacked anywhere else, and the end is as abrupt as a broken limit.
    {FAILURE_EXPAND, "Error, couldn't runtime expand spec '", "'.", MESSAGE_WITH_DETAIL,
     REPORT_STANDARD_ERROR, END_ABNORMALLY},
};

static const int FAILURE_EXIT_STATUS = 2;

// The longest line: a message of a few dozen characters, a detail of up to
// 4097 units at up to 4 bytes each, or a code and the system's text, which
// FormatMessageA never makes longer than 64 KiB.
static const size_t LINE_CAPACITY = 64 * 1024 + 4097 * 4 + 256;
static const size_t DETAIL_CAPACITY = 4097 * 4;
static char g_line[LINE_CAPACITY];

static const FailureMessage &message_for(FailureKind kind)
{
    for (const FailureMessage &message : FAILURE_MESSAGES) {
        if (message.kind == kind) {
            return message;
        }
    }
    terminate_abnormally();
}

// "%ls" stops a path at its first character the narrow stream cannot carry,
// which would show a wrong path; such characters come out as '?' instead.
// Characters the runtime's locale can carry come out as "%ls" gives them.
static size_t append_narrowed(char *line, size_t used, const wchar_t *text)
{
    const size_t limit = used + DETAIL_CAPACITY;
    for (const wchar_t *p = text; *p != L'\0'; p++) {
        char bytes[MB_LEN_MAX];
        int n = wctomb(bytes, *p);
        if (n <= 0) {
            bytes[0] = '?';
            n = 1;
        }
        if (used + static_cast<size_t>(n) > limit) {
            break;
        }
        memcpy(line + used, bytes, static_cast<size_t>(n));
        used += static_cast<size_t>(n);
    }
    line[used] = '\0';
    return used;
}

void trim_trailing_line_breaks(char *text, unsigned long length)
{
    for (unsigned long i = length; i > 0 && (text[i - 1] == '\r' || text[i - 1] == '\n'); i--) {
        text[i - 1] = '\0';
    }
}

static void compose_with_code(const char *message, unsigned long code)
{
    char *text = NULL;
    // English (1033) on every system, so that reports read the same everywhere.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  /* lpSource */ NULL, code,
                                  /* dwLanguageId */ MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<char *>(&text), /* nSize */ 0,
                                  /* Arguments */ NULL);
    if (length > 0 && text != NULL) {
        trim_trailing_line_breaks(text, length);
    }
    // No text for this code in English: an empty text.
    snprintf(g_line, LINE_CAPACITY, "%s ([Error %ld] %s)\n", message, static_cast<long>(code),
             length > 0 && text != NULL ? text : "");
    if (text != NULL) {
        LocalFree(text);
    }
}

const char *failure_line(const StageResult &result, ReportStream *stream)
{
    const FailureMessage &message = message_for(result.kind);
    *stream = message.stream;
    switch (message.form) {
    case MESSAGE_PLAIN:
        snprintf(g_line, LINE_CAPACITY, "%s\n", message.text);
        break;
    case MESSAGE_WITH_DETAIL: {
        size_t used = static_cast<size_t>(snprintf(g_line, LINE_CAPACITY, "%s", message.text));
        used = append_narrowed(g_line, used, result.detail != NULL ? result.detail : L"");
        snprintf(g_line + used, LINE_CAPACITY - used, "%s\n", message.after_detail);
        break;
    }
    case MESSAGE_WITH_CODE:
        compose_with_code(message.text, result.code);
        break;
    }
    return g_line;
}

void report_on_console(const char *line, ReportStream stream)
{
    FILE *out = stream == REPORT_STANDARD_OUTPUT ? stdout : stderr;
    fputs(line, out);
    // Out before any end: an abnormal one flushes no stream.
    fflush(out);
}

void end_with_failure(const StageResult &result, FailureReporter reporter)
{
    ReportStream stream;
    const char *line = failure_line(result, &stream);
    reporter(line, stream);
    if (message_for(result.kind).end == END_ABNORMALLY) {
        terminate_abnormally();
    }
    exit(FAILURE_EXIT_STATUS);
}
