// cmdline.cpp: builds the child's command line: the launcher's own, as typed, and the fixed arguments.
#include "child/cmdline.h"

#include <windows.h>
#include <wchar.h>

#include "argument_quoting.h"
#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/command_text.h"

// The quoting rule works on UTF-16 units; wchar_t is one on this platform.
static bool append_argument(wchar_t *line, size_t *length, const wchar_t *argument, ArgumentQuoting quoting)
{
    return append_quoted_argument(reinterpret_cast<char16_t *>(line), COMMAND_LINE_CAPACITY, length,
                                  reinterpret_cast<const char16_t *>(argument), wcslen(argument), quoting);
}

static bool append_text(wchar_t *line, size_t *length, const wchar_t *text)
{
    return append_wide_units(line, COMMAND_LINE_CAPACITY, length, text, wcslen(text));
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

// A line that will not fit: the platform's own report of it for a build
// with fixed arguments, the launcher's abnormal end as ever without them.
static StageResult line_too_long(const BuildInfo &build)
{
    if (build.fixed_argument_count == 0) {
        terminate_abnormally();
    }
    return stage_failed(FAILURE_LAUNCH, ERROR_FILENAME_EXCED_RANGE);
}

StageResult build_child_command_line(const LaunchShared *launch, ChildStage *child)
{
    // A path the platform had to cut names another file: that ends the run
    // instead of starting the child with a wrong argv[0].
    const ProcessFacts &facts = launch->process;
    if (!facts.own_path_known) {
        terminate_abnormally();
    }
    const BuildInfo &build = launch->build;
    // The rest is never split and joined again: a child whose runtime reads
    // its line by other rules than the platform's splitting (a command
    // interpreter, a batch file, empty arguments) must see it as typed.
    const wchar_t *rest = skip_program_name(GetCommandLineW());
    wchar_t *line = child->command_line;
    line[0] = L'\0';
    size_t length = 0;
    // After a quoted name the rest may follow at once ("app"x): only behind a
    // closing quote does the child still see x as an argument of its own.
    // Fixed arguments between them take that place, and a space follows them.
    const bool glued = *rest != L'\0' && *rest != L' ' && *rest != L'\t';
    const ArgumentQuoting name_quoting =
        glued && build.fixed_argument_count == 0 ? QUOTE_ALWAYS : QUOTE_WHEN_NEEDED;
    if (!append_argument(line, &length, facts.own_path, name_quoting)) {
        return line_too_long(build);
    }
    const wchar_t *argument = build.fixed_arguments;
    for (unsigned long i = 0; i < build.fixed_argument_count; i++, argument += wcslen(argument) + 1) {
        ChildExpansion *expansion = &child->expansion;
        switch (expand_command_text(launch, expansion->expanded, COMMAND_LINE_CAPACITY, argument,
                                    expansion->key_value, COMMAND_LINE_CAPACITY)) {
        case COMMAND_TEXT_EXPANDED:
            break;
        case COMMAND_TEXT_TOO_LONG:
            return line_too_long(build);
        case COMMAND_TEXT_NOT_EXPANDED:
            return stage_failed(FAILURE_EXPAND, 0, argument);
        }
        if (!append_text(line, &length, L" ") ||
            !append_argument(line, &length, expansion->expanded, QUOTE_WHEN_NEEDED)) {
            return line_too_long(build);
        }
    }
    if ((build.fixed_argument_count > 0 && glued && !append_text(line, &length, L" ")) ||
        !append_text(line, &length, rest)) {
        return line_too_long(build);
    }
    return stage_succeeded();
}
