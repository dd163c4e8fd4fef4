// console_progress.cpp: draws and erases the console progress line of a first start.
#include "launcher/console_progress.h"

#include <windows.h>

#include "build_constants.h"
#include "pathspec/command_text.h"

// Shown only once unpacking has taken this long, redrawn at most this often.
static const ULONGLONG SHOW_AFTER_MS = 500;
static const ULONGLONG REDRAW_EVERY_MS = 100;
static const size_t LINE_CAPACITY = 512;
static const int BAR_WIDTH = 20;

struct ConsoleProgress {
    HANDLE console;
    ULONGLONG started;
    ULONGLONG drawn_at;
    unsigned long long total_bytes;
    unsigned long total_files;
    // The line last drawn, in units; 0 while nothing is on the console.
    size_t drawn_length;
    wchar_t message[PROGRESS_MESSAGE_LIMIT * 4 + 1];
    wchar_t key_value[WIDE_PATH_CAPACITY];
    wchar_t line[LINE_CAPACITY];
};

static ConsoleProgress g_progress;

static void append_text(wchar_t *line, size_t *length, const wchar_t *text)
{
    for (; *text != L'\0' && *length + 1 < LINE_CAPACITY; text++) {
        line[(*length)++] = *text;
    }
    line[*length] = L'\0';
}

static void append_number(wchar_t *line, size_t *length, unsigned long long value)
{
    wchar_t digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    wchar_t text[24];
    for (size_t i = 0; i < count; i++) {
        text[i] = digits[count - 1 - i];
    }
    text[count] = L'\0';
    append_text(line, length, text);
}

// Megabytes with one decimal: "12.3".
static void append_megabytes(wchar_t *line, size_t *length, unsigned long long bytes)
{
    const unsigned long long tenths = bytes * 10 / (1024 * 1024);
    append_number(line, length, tenths / 10);
    append_text(line, length, L".");
    append_number(line, length, tenths % 10);
}

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
    const unsigned long long done = static_cast<unsigned long long>(context->progress.bytes_done);
    const unsigned long files = static_cast<unsigned long>(context->progress.files_done);
    wchar_t *line = g_progress.line;
    size_t length = 0;
    line[0] = L'\0';
    append_text(line, &length, L"\r");
    if (g_progress.message[0] != L'\0') {
        append_text(line, &length, g_progress.message);
        append_text(line, &length, L" ");
    }
    const unsigned long long total = g_progress.total_bytes != 0 ? g_progress.total_bytes : 1;
    const int filled = static_cast<int>((done < total ? done : total) * BAR_WIDTH / total);
    append_text(line, &length, L"[");
    for (int i = 0; i < BAR_WIDTH; i++) {
        append_text(line, &length, i < filled ? L"#" : L".");
    }
    append_text(line, &length, L"] ");
    append_megabytes(line, &length, done);
    append_text(line, &length, L"/");
    append_megabytes(line, &length, g_progress.total_bytes);
    append_text(line, &length, L" MB, ");
    append_number(line, &length, files);
    append_text(line, &length, L"/");
    append_number(line, &length, g_progress.total_files);
    append_text(line, &length, L" files");
    // One column short of the width: a full line would wrap on some consoles.
    const size_t room = console_width(g_progress.console);
    size_t shown = length - 1;
    if (shown > room - 1) {
        shown = room - 1;
    }
    // What a longer line drawn before leaves is blanked.
    while (shown < g_progress.drawn_length && 1 + shown + 1 < LINE_CAPACITY) {
        line[1 + shown++] = L' ';
    }
    write_console(line, 1 + shown);
    g_progress.drawn_length = shown;
}

static void progress_advanced(LaunchContext *context)
{
    const ULONGLONG now = GetTickCount64();
    if (now - g_progress.started < SHOW_AFTER_MS || now - g_progress.drawn_at < REDRAW_EVERY_MS) {
        return;
    }
    g_progress.drawn_at = now;
    draw(context);
}

void console_progress_begin(LaunchContext *context)
{
    context->progress.advanced = NULL;
    if (context->build.progress == 0 || context->launcher_kind != LAUNCHER_CONSOLE ||
        context->build.record_index == NULL) {
        return;
    }
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (console == NULL || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        return;
    }
    g_progress.console = console;
    g_progress.drawn_length = 0;
    g_progress.total_bytes = 0;
    g_progress.total_files = context->build.record_count;
    const unsigned char *at = context->build.record_index;
    for (unsigned long i = 0; i < context->build.record_count; i++) {
        IndexRecord record;
        at = next_index_record(at, &record);
        g_progress.total_bytes += record.size;
    }
    // A message that cannot be expanded is left out: the unpack matters more.
    g_progress.message[0] = L'\0';
    if (context->build.progress_message != NULL &&
        expand_command_text(context, g_progress.message, sizeof g_progress.message / sizeof g_progress.message[0],
                            context->build.progress_message, g_progress.key_value,
                            WIDE_PATH_CAPACITY) != COMMAND_TEXT_EXPANDED) {
        g_progress.message[0] = L'\0';
    }
    context->progress.bytes_done = 0;
    context->progress.files_done = 0;
    g_progress.started = GetTickCount64();
    g_progress.drawn_at = 0;
    context->progress.advanced = progress_advanced;
}

void console_progress_end(LaunchContext *context)
{
    if (context->progress.advanced == NULL) {
        return;
    }
    context->progress.advanced = NULL;
    if (g_progress.drawn_length == 0) {
        return;
    }
    wchar_t *line = g_progress.line;
    size_t length = 0;
    line[length++] = L'\r';
    for (size_t i = 0; i < g_progress.drawn_length && length + 1 < LINE_CAPACITY; i++) {
        line[length++] = L' ';
    }
    line[length++] = L'\r';
    write_console(line, length);
    g_progress.drawn_length = 0;
}
