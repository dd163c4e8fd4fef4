// cmdline.cpp: builds the child's command line.
#include "child/cmdline.h"

#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/paths.h"

static wchar_t g_command_line[COMMAND_LINE_CAPACITY];
static wchar_t g_module_path[WIDE_PATH_CAPACITY];

static const size_t MODULE_PATH_CAPACITY = sizeof g_module_path / sizeof g_module_path[0];

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

void append_command_line_argument(wchar_t *buffer, size_t capacity, size_t *length, const wchar_t *argument)
{
    if (needs_quotes(argument)) {
        append_quoted(buffer, capacity, length, argument);
        return;
    }
    for (const wchar_t *p = argument; *p != L'\0'; p++) {
        append_wide_unit(buffer, capacity, length, *p);
    }
}

// The launcher's own path, once. A path the platform had to cut names another
// file: that ends the run instead of starting the child with a wrong argv[0].
static void fill_module_path()
{
    if (g_module_path[0] == L'\0' && !read_own_path(g_module_path, MODULE_PATH_CAPACITY)) {
        terminate_abnormally();
    }
}

wchar_t *build_child_command_line()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == NULL) {
        terminate_abnormally();
    }
    g_command_line[0] = L'\0';
    size_t length = 0;
    fill_module_path();
    if (count < 1) {
        append_command_line_argument(g_command_line, COMMAND_LINE_CAPACITY, &length, g_module_path);
        return g_command_line;
    }
    arguments[0] = g_module_path;
    for (int i = 0; i < count; i++) {
        if (arguments[i] == NULL) {
            terminate_abnormally();
        }
        if (i > 0) {
            append_wide_unit(g_command_line, COMMAND_LINE_CAPACITY, &length, L' ');
        }
        append_command_line_argument(g_command_line, COMMAND_LINE_CAPACITY, &length, arguments[i]);
    }
    return g_command_line;
}
