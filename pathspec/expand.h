// expand.h: turns a path specification ("{KEY}" placeholders among literal
// characters) into a concrete path.
#ifndef ZOBREL_PATHSPEC_EXPAND_H
#define ZOBREL_PATHSPEC_EXPAND_H

#include <stddef.h>

#include "common/launch_shared.h"
#include "spec_keys.h"

// Expands the NUL-terminated specification into the output buffer of the
// given capacity (units, NUL included), which it empties first and keeps
// NUL-terminated. The keys' values come from the launch's build constants
// and process facts (the launcher's own path), from the platform and from
// the run-unique values; the launch is only read.
//
// True: the output holds the whole expansion. False, with the text made so
// far left in the output: a literal that does not fit with its NUL; an
// unknown key (the empty key included) or {UNPACK_DIR}, which only fixed
// arguments and environment values name (command_text.h); a "}" outside a placeholder; a key
// longer than 1023 characters; a launcher path that was not had whole
// (ProcessFacts) or does not fit; a per-user folder that cannot be had or
// is not an absolute path (is_absolute_path); a temporary folder that cannot
// be had, does not fit in the room left, or comes from a setting that is not
// an absolute path (the first of TMP, TEMP and USERPROFILE that is set). A
// computed or constant value that does not fit ends the process (abnormal
// termination), as do the failures of the run-unique values. An unclosed
// placeholder at the end is dropped without error. Prints nothing.
bool expand_path_spec(const LaunchShared *launch, wchar_t *output, const wchar_t *spec, size_t capacity);

// Expands the one key of the table into the output exactly as
// expand_path_spec expands the specification "{KEY}".
bool expand_spec_key(const LaunchShared *launch, wchar_t *output, size_t capacity, const SpecKey *key);

#endif
