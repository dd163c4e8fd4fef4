// child_environment.cpp: expands and sets the build's variables for the child.
#include "child/child_environment.h"

#include <windows.h>
#include <wchar.h>

#include "pathspec/command_text.h"
#include "pathspec/environment.h"
#include "environment_name.h"

// The text after this NUL-terminated one.
static const wchar_t *next_text(const wchar_t *text)
{
    return text + wcslen(text) + 1;
}

StageResult expand_child_environment(const LaunchShared *launch, ChildExpansion *expansion)
{
    const BuildInfo &build = launch->build;
    size_t used = 0;
    const wchar_t *name = build.environment;
    for (unsigned long i = 0; i < build.environment_count; i++, name = next_text(next_text(name))) {
        const wchar_t *value = next_text(name);
        switch (expand_command_text(launch, expansion->expanded, COMMAND_LINE_CAPACITY, value,
                                    expansion->key_value, COMMAND_LINE_CAPACITY)) {
        case COMMAND_TEXT_EXPANDED:
            break;
        case COMMAND_TEXT_TOO_LONG:
            return stage_failed(FAILURE_LAUNCH, ERROR_FILENAME_EXCED_RANGE);
        case COMMAND_TEXT_NOT_EXPANDED:
            return stage_failed(FAILURE_EXPAND, 0, value);
        }
        if (wcslen(expansion->expanded) > ENVIRONMENT_VALUE_LIMIT) {
            return stage_failed(FAILURE_LAUNCH, ERROR_FILENAME_EXCED_RANGE);
        }
        // Grown value by value: together they may pass any fixed size.
        const size_t units = wcslen(expansion->expanded) + 1;
        const size_t bytes = (used + units) * sizeof(wchar_t);
        void *block = expansion->environment_values == NULL
                          ? HeapAlloc(GetProcessHeap(), 0, bytes)
                          : HeapReAlloc(GetProcessHeap(), 0, expansion->environment_values, bytes);
        if (block == NULL) {
            return stage_failed(FAILURE_MEMORY);
        }
        expansion->environment_values = static_cast<wchar_t *>(block);
        wmemcpy(expansion->environment_values + used, expansion->expanded, units);
        used += units;
    }
    return stage_succeeded();
}

StageResult set_child_environment(const LaunchShared *launch, const ChildExpansion *expansion)
{
    const wchar_t *name = launch->build.environment;
    const wchar_t *value = expansion->environment_values;
    for (unsigned long i = 0; i < launch->build.environment_count; i++) {
        // An empty value removes the variable: the user's own of that name too.
        if (!set_variable_whole(name, value[0] == L'\0' ? NULL : value)) {
            return stage_failed(FAILURE_LAUNCH, GetLastError());
        }
        name = next_text(next_text(name));
        value = next_text(value);
    }
    return stage_succeeded();
}
