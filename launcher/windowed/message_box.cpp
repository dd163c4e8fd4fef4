// message_box.cpp: shows a failure's line in a message box and on standard error.
#include "launcher/windowed/message_box.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/user32.h"
#include "launcher/windowed/interactive_desktop.h"
#include "launcher/windowed/window_title.h"

static const size_t TEXT_CAPACITY = 96 * 1024;
static wchar_t g_text[TEXT_CAPACITY];
static wchar_t g_title[LAUNCHER_PATH_CAPACITY];

void set_report_title(const LaunchContext *context)
{
    window_title(context, g_title, LAUNCHER_PATH_CAPACITY);
}

// The line back in UTF-16 by the runtime's locale, which made it narrow, so
// the box says what the stream would; without the final "\n".
static void widen_line(const char *line)
{
    size_t used = 0;
    mbtowc(NULL, NULL, 0);
    for (const char *p = line; *p != '\0' && used + 1 < TEXT_CAPACITY;) {
        wchar_t unit = L'?';
        int n = mbtowc(&unit, p, MB_CUR_MAX);
        if (n <= 0) {
            unit = L'?';
            n = 1;
        }
        g_text[used++] = unit;
        p += n;
    }
    while (used > 0 && (g_text[used - 1] == L'\n' || g_text[used - 1] == L'\r')) {
        used--;
    }
    g_text[used] = L'\0';
}

void report_in_message_box(const char *line, ReportStream stream)
{
    (void)stream;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != NULL && error != INVALID_HANDLE_VALUE) {
        fputs(line, stderr);
        fflush(stderr);
    }
    const User32 *u = user32();
    if (u == NULL || !desktop_is_interactive()) {
        return;
    }
    widen_line(line);
    u->message_box(/* hWnd */ NULL, g_text, g_title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
