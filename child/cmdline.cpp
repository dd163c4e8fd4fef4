// cmdline.cpp: builds the child's command line from the launcher's own, as typed.
#include "child/cmdline.h"

#include <windows.h>
#include <wchar.h>

#include "common/platform.h"
#include "common/wide_buffer.h"

static bool needs_quotes(const wchar_t *argument)
{
    return wcspbrk(argument, L" \t\n\v\"") != NULL;
}

static void append_backslashes(wchar_t *buffer, size_t capacity, size_t *length, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        append_wide_unit(buffer, capacity, length, L'\\');
    }
}

// The quoted form, so that the platform's splitting gives the argument back:
// - a run of n backslashes before the closing quote becomes 2n;
// - a run of n backslashes before a double quote becomes 2n + 1, then the quote;
// - a run before any other character stays as it is.
static void append_quoted(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *argument)
{
    append_wide_unit(buffer, capacity, length, L'"');
    const wchar_t *p = argument;
    for (;;) {
        size_t backslashes = 0;
        while (*p == L'\\') {
            backslashes++;
            p++;
        }
        if (*p == L'\0') {
            append_backslashes(buffer, capacity, length, 2 * backslashes);
            append_wide_unit(buffer, capacity, length, L'"');
            return;
        }
        if (*p == L'"') {
            append_backslashes(buffer, capacity, length, 2 * backslashes + 1);
        } else {
            append_backslashes(buffer, capacity, length, backslashes);
        }
        append_wide_unit(buffer, capacity, length, *p);
        p++;
    }
}

static void append_text(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *text)
{
    for (const wchar_t *p = text; *p != L'\0'; p++) {
        append_wide_unit(buffer, capacity, length, *p);
    }
}

// The first unit after the program name, found as the platform finds argument 0.
static const wchar_t *skip_program_name(const wchar_t *command_line)
{
    const wchar_t *p = command_line;
    if (*p == L'"') {
        // Inside the quotes nothing is special: no backslash escapes, no end at spaces.
        p++;
        while (*p != L'\0' && *p != L'"') {
            p++;
        }
        return *p == L'"' ? p + 1 : p;
    }
    while (*p != L'\0' && *p != L' ' && *p != L'\t') {
        p++;
    }
    return p;
}

wchar_t *build_child_command_line(LaunchContext *context)
{
    // A path the platform had to cut names another file: that ends the run
    // instead of starting the child with a wrong argv[0].
    const ProcessFacts &facts = context->process;
    if (!facts.own_path_known) {
        terminate_abnormally();
    }
    // The rest is never split and joined again: a child whose runtime reads
    // its line by other rules than the platform's splitting (a command
    // interpreter, a batch file, empty arguments) must see it as typed.
    const wchar_t *rest = skip_program_name(GetCommandLineW());
    wchar_t *line = context->child_command_line;
    line[0] = L'\0';
    size_t length = 0;
    // After a quoted name the rest may follow at once ("app"x): only behind a
    // closing quote does the child still see x as an argument of its own.
    bool glued = *rest != L'\0' && *rest != L' ' && *rest != L'\t';
    if (glued || needs_quotes(facts.own_path)) {
        append_quoted(line, COMMAND_LINE_CAPACITY, &length, facts.own_path);
    } else {
        append_text(line, COMMAND_LINE_CAPACITY, &length, facts.own_path);
    }
    append_text(line, COMMAND_LINE_CAPACITY, &length, rest);
    return line;
}
