// console_progress.cpp: draws and erases the console progress line of a first start.
#include "launcher/console_progress.h"

#include <windows.h>

#include "launcher/progress_measure.h"

static const size_t LINE_CAPACITY = 512;
static const unsigned long BAR_WIDTH = 20;
// Narrower than this, a bar tells nothing: the counts alone are shown.
static const unsigned long SHORTEST_BAR = 5;
// A message cut shorter than this tells nothing: none is shown.
static const size_t SHORTEST_MESSAGE = 4;

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
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return static_cast<size_t>(columns);
}

static void write_console(const wchar_t *text, size_t length)
{
    DWORD written = 0;
    WriteConsoleW(g_progress.console, text, static_cast<DWORD>(length), &written, /* reserved */ NULL);
}

// How the line fits the console: the message's units shown (with "..."
// after them when cut), and the bar's width. The counts come first, then
// the bar, then the message: a narrow console shortens the message, then
// drops it, then narrows the bar, then drops it.
struct Layout {
    size_t message_units;
    bool message_cut;
    unsigned long bar_width;
};

static Layout lay_out(size_t room, size_t message_length, size_t counts_width)
{
    Layout layout = {0, false, BAR_WIDTH};
    const size_t tail = BAR_WIDTH + 3 + counts_width;  // "[", the bar, "] ", the counts
    if (message_length != 0 && message_length + 1 + tail <= room) {
        layout.message_units = message_length;
    } else if (message_length != 0 && room >= tail + 4 + SHORTEST_MESSAGE) {
        layout.message_units = room - tail - 4;  // and "... "
        layout.message_cut = true;
    } else if (tail > room) {
        layout.bar_width =
            room >= counts_width + 3 + SHORTEST_BAR ? static_cast<unsigned long>(room - counts_width - 3) : 0;
    }
    return layout;
}

static void draw(const LaunchContext *context)
{
    // One column short of the width: a full line would wrap on some consoles.
    size_t room = console_width(g_progress.console) - 1;
    // Room kept for the leading carriage return and the erasing line's two.
    if (room + 3 > LINE_CAPACITY) {
        room = LINE_CAPACITY - 3;
    }
    const wchar_t *message = g_progress.measure.message;
    size_t message_length = 0;
    while (message[message_length] != L'\0') {
        message_length++;
    }
    const Layout layout = lay_out(room, message_length, progress_counts_widest(&g_progress.measure));

    ProgressLine line = {g_progress.line, LINE_CAPACITY, 0};
    progress_line_append(&line, L"\r");
    if (layout.message_units != 0) {
        size_t units = layout.message_units;
        // Never half a surrogate pair.
        if (layout.message_cut && message[units - 1] >= 0xD800 && message[units - 1] <= 0xDBFF) {
            units--;
        }
        for (size_t i = 0; i < units && line.length + 1 < line.capacity; i++) {
            line.text[line.length++] = message[i];
        }
        line.text[line.length] = L'\0';
        progress_line_append(&line, layout.message_cut ? L"... " : L" ");
    }
    if (layout.bar_width != 0) {
        const unsigned long filled = progress_share(context, &g_progress.measure, layout.bar_width);
        progress_line_append(&line, L"[");
        for (unsigned long i = 0; i < layout.bar_width; i++) {
            progress_line_append(&line, i < filled ? L"#" : L".");
        }
        progress_line_append(&line, L"] ");
    }
    progress_line_append_counts(&line, context, &g_progress.measure);
    size_t shown = line.length - 1;
    if (shown > room) {
        shown = room;
    }
    // What a longer line drawn before leaves is blanked.
    while (shown < g_progress.drawn_length && 1 + shown + 1 < LINE_CAPACITY) {
        g_progress.line[1 + shown++] = L' ';
    }
    write_console(g_progress.line, 1 + shown);
    g_progress.drawn_length = shown;
}

static void progress_advanced(void *listener)
{
    LaunchContext *context = static_cast<LaunchContext *>(listener);
    if (progress_draw_due(&g_progress.measure)) {
        draw(context);
    }
}

void console_progress_begin(LaunchContext *context)
{
    context->payload.progress.advanced = NULL;
    if (context->shared.launcher_kind != LAUNCHER_CONSOLE) {
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
    context->payload.progress.listener = context;
    context->payload.progress.advanced = progress_advanced;
}

void console_progress_end(LaunchContext *context)
{
    if (context->payload.progress.advanced != progress_advanced) {
        return;
    }
    context->payload.progress.advanced = NULL;
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
