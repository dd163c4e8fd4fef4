// command_text.h: a fixed argument or an environment value of the build,
// expanded: the path specification's keys, and {UNPACK_DIR}.
#ifndef ZOBREL_PATHSPEC_COMMAND_TEXT_H
#define ZOBREL_PATHSPEC_COMMAND_TEXT_H

#include <stddef.h>

#include "common/launch_shared.h"

enum CommandTextResult {
    COMMAND_TEXT_EXPANDED,
    // The expansion and its NUL do not fit in the output's capacity.
    COMMAND_TEXT_TOO_LONG,
    // A key is unknown, or its value cannot be had (as expand_path_spec
    // fails), or the text breaks the placeholder syntax.
    COMMAND_TEXT_NOT_EXPANDED,
};

// Expands the NUL-terminated text into output (`capacity` units, NUL
// included), which it empties first and keeps NUL-terminated. Placeholders
// are those of expand_path_spec and expand as it expands each key on its
// own, each key's value through the key_value buffer (`key_capacity`
// units); {UNPACK_DIR} is the launch's unpack directory, which must have
// been chosen; {ENV:NAME} is the variable NAME of the environment the
// launcher was started with, empty when unset (spec_keys.h). After a key whose value drops its trailing
// backslashes (spec_keys.h; {UNPACK_DIR} among them), backslashes at the end of the whole output go. Unlike a
// path, text of any length is expected here: whatever does not fit is COMMAND_TEXT_TOO_LONG, never an
// abnormal end, except a single key value longer than key_capacity, which ends the process as
// expand_path_spec does.
CommandTextResult expand_command_text(const LaunchShared *launch, wchar_t *output, size_t capacity,
                                      const wchar_t *text, wchar_t *key_value, size_t key_capacity);

#endif
