// console_progress.cpp: draws and erases the console progress line of a first start.
#include "launcher/console_progress.h"

#include <windows.h>

#include "launcher/progress_measure.h"

static const size_t LINE_CAPACITY = 512;
static const unsigned long BAR_WIDTH = 20;

struct ConsoleProgress {
    HANDLE console;
    ProgressMeasure measure;
    // The line last drawn, in units; 0 while nothing is on the console.
    size_t drawn_length;
    wchar_t line[LINE_CAPACITY];
};

static ConsoleProgress g_progress;

// The console's visible width in columns; 80 when it cannot be had.
static size_t console_width(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info) || info.srWindow.Right <= info.srWindow.Left) {
        return 80;
    }
    return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

static void write_console(const wchar_t *text, size_t length)
{
    DWORD written = 0;
    WriteConsoleW(g_progress.console, text, static_cast<DWORD>(length), &written, /* reserved */ NULL);
}

static void draw(const LaunchContext *context)
{
    ProgressLine line = {g_progress.line, LINE_CAPACITY, 0};
    progress_line_append(&line, L"\r");
    if (g_progress.measure.message[0] != L'\0') {
        progress_line_append(&line, g_progress.measure.message);
        progress_line_append(&line, L" ");
    }
    const unsigned long filled = progress_share(context, &g_progress.measure, BAR_WIDTH);
    progress_line_append(&line, L"[");
    for (unsigned long i = 0; i < BAR_WIDTH; i++) {
        progress_line_append(&line, i < filled ? L"#" : L".");
    }
    progress_line_append(&line, L"] ");
    progress_line_append_counts(&line, context, &g_progress.measure);
    // One column short of the width: a full line would wrap on some consoles.
    const size_t room = console_width(g_progress.console);
    size_t shown = line.length - 1;
    if (shown > room - 1) {
        shown = room - 1;
    }
    // Room kept for the erasing line's two carriage returns.
    if (shown + 3 > LINE_CAPACITY) {
        shown = LINE_CAPACITY - 3;
    }
    // What a longer line drawn before leaves is blanked.
    while (shown < g_progress.drawn_length && 1 + shown + 1 < LINE_CAPACITY) {
        g_progress.line[1 + shown++] = L' ';
    }
    write_console(g_progress.line, 1 + shown);
    g_progress.drawn_length = shown;
}

static void progress_advanced(LaunchContext *context)
{
    if (progress_draw_due(&g_progress.measure)) {
        draw(context);
    }
}

void console_progress_begin(LaunchContext *context)
{
    context->progress.advanced = NULL;
    if (context->launcher_kind != LAUNCHER_CONSOLE) {
        return;
    }
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (console == NULL || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        return;
    }
    if (!begin_progress_measure(context, &g_progress.measure)) {
        return;
    }
    g_progress.console = console;
    g_progress.drawn_length = 0;
    context->progress.advanced = progress_advanced;
}

void console_progress_end(LaunchContext *context)
{
    if (context->progress.advanced != progress_advanced) {
        return;
    }
    context->progress.advanced = NULL;
    if (g_progress.drawn_length == 0) {
        return;
    }
    ProgressLine line = {g_progress.line, LINE_CAPACITY, 0};
    progress_line_append(&line, L"\r");
    for (size_t i = 0; i < g_progress.drawn_length; i++) {
        progress_line_append(&line, L" ");
    }
    progress_line_append(&line, L"\r");
    write_console(g_progress.line, line.length);
    g_progress.drawn_length = 0;
}
