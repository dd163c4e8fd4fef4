// progress_measure.h: what both progress displays of a first start share:
// the totals, the message, when to draw, and the counts' text.
#ifndef ZOBREL_LAUNCHER_PROGRESS_MEASURE_H
#define ZOBREL_LAUNCHER_PROGRESS_MEASURE_H

#include <windows.h>

#include "build_constants.h"
#include "launcher/launch_context.h"

struct ProgressMeasure {
    ULONGLONG started;
    ULONGLONG drawn_at;
    unsigned long long total_bytes;
    unsigned long total_files;
    // The expanded --progress-message; empty when none or when it could not
    // be expanded (the unpack matters more than its message).
    wchar_t message[PROGRESS_MESSAGE_LIMIT * 4 + 1];
    wchar_t key_value[WIDE_PATH_CAPACITY];
};

// True when the build asks for progress and its record index gives the
// totals: then fills the totals and the message, zeroes the context's
// counters and starts the clock. False otherwise, with nothing touched.
bool begin_progress_measure(LaunchContext *context, ProgressMeasure *measure);

// True when it is time to draw: not before unpacking has taken about half a
// second, then at most ten times a second. Notes the time when true.
bool progress_draw_due(ProgressMeasure *measure);

// A bounded line of text: appends stop at the capacity (the NUL included),
// cutting the text rather than ending the process: a progress line is never
// worth a failed start.
struct ProgressLine {
    wchar_t *text;
    size_t capacity;
    size_t length;
};

void progress_line_append(ProgressLine *line, const wchar_t *text);

// Appends "12.3/45.6 MB, 120/10001 files": bytes in megabytes with one
// decimal, and files, each done of the total.
void progress_line_append_counts(ProgressLine *line, const LaunchContext *context,
                                 const ProgressMeasure *measure);

// The length the counts reach once everything is done, their widest: a line
// laid out for it does not move as the counts grow.
size_t progress_counts_widest(const ProgressMeasure *measure);

// The share of the bytes done, 0 to `scale`.
unsigned long progress_share(const LaunchContext *context, const ProgressMeasure *measure,
                             unsigned long scale);

#endif
