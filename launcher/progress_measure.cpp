// progress_measure.cpp: totals, timing and counts' text for the progress of a first start.
#include "launcher/progress_measure.h"

#include "pathspec/command_text.h"

// Shown only once unpacking has taken this long, redrawn at most this often.
static const ULONGLONG SHOW_AFTER_MS = 500;
static const ULONGLONG REDRAW_EVERY_MS = 100;

bool begin_progress_measure(LaunchContext *context, ProgressMeasure *measure)
{
    if (context->shared.build.progress == 0 || context->shared.build.record_index == NULL) {
        return false;
    }
    measure->total_bytes = 0;
    measure->total_files = context->shared.build.record_count;
    const unsigned char *at = context->shared.build.record_index;
    for (unsigned long i = 0; i < context->shared.build.record_count; i++) {
        IndexRecord record;
        at = next_index_record(at, &record);
        measure->total_bytes += record.size;
    }
    measure->message[0] = L'\0';
    if (context->shared.build.progress_message != NULL &&
        expand_command_text(&context->shared, measure->message,
                            sizeof measure->message / sizeof measure->message[0],
                            context->shared.build.progress_message, measure->key_value,
                            WIDE_PATH_CAPACITY) != COMMAND_TEXT_EXPANDED) {
        measure->message[0] = L'\0';
    }
    context->payload.progress.bytes_done = 0;
    context->payload.progress.files_done = 0;
    measure->started = GetTickCount64();
    measure->drawn_at = 0;
    return true;
}

bool progress_draw_due(ProgressMeasure *measure)
{
    const ULONGLONG now = GetTickCount64();
    if (now - measure->started < SHOW_AFTER_MS || now - measure->drawn_at < REDRAW_EVERY_MS) {
        return false;
    }
    measure->drawn_at = now;
    return true;
}

void progress_line_append(ProgressLine *line, const wchar_t *text)
{
    for (; *text != L'\0' && line->length + 1 < line->capacity; text++) {
        line->text[line->length++] = *text;
    }
    line->text[line->length] = L'\0';
}

static void append_number(ProgressLine *line, unsigned long long value)
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
    progress_line_append(line, text);
}

// Megabytes with one decimal: "12.3".
static void append_megabytes(ProgressLine *line, unsigned long long bytes)
{
    const unsigned long long tenths = bytes * 10 / (1024 * 1024);
    append_number(line, tenths / 10);
    progress_line_append(line, L".");
    append_number(line, tenths % 10);
}

static void append_counts(ProgressLine *line, unsigned long long bytes_done, unsigned long long files_done,
                          const ProgressMeasure *measure)
{
    append_megabytes(line, bytes_done);
    progress_line_append(line, L"/");
    append_megabytes(line, measure->total_bytes);
    progress_line_append(line, L" MB, ");
    append_number(line, files_done);
    progress_line_append(line, L"/");
    append_number(line, measure->total_files);
    progress_line_append(line, L" files");
}

void progress_line_append_counts(ProgressLine *line, const LaunchContext *context,
                                 const ProgressMeasure *measure)
{
    append_counts(line, static_cast<unsigned long long>(context->payload.progress.bytes_done),
                  static_cast<unsigned long long>(context->payload.progress.files_done), measure);
}

size_t progress_counts_widest(const ProgressMeasure *measure)
{
    wchar_t text[64];
    ProgressLine line = {text, sizeof text / sizeof text[0], 0};
    append_counts(&line, measure->total_bytes, measure->total_files, measure);
    return line.length;
}

unsigned long progress_share(const LaunchContext *context, const ProgressMeasure *measure,
                             unsigned long scale)
{
    const unsigned long long done = static_cast<unsigned long long>(context->payload.progress.bytes_done);
    const unsigned long long total = measure->total_bytes != 0 ? measure->total_bytes : 1;
    return static_cast<unsigned long>((done < total ? done : total) * scale / total);
}
