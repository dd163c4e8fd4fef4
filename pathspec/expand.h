// expand.h: turns a path specification ("{KEY}" placeholders among literal
// characters) into a concrete path.
#ifndef ZOBREL_PATHSPEC_EXPAND_H
#define ZOBREL_PATHSPEC_EXPAND_H

#include <stddef.h>

// Expands the NUL-terminated specification into the output buffer of the
// given capacity (units, NUL included), which it empties first and keeps
// NUL-terminated.
//
// True: the output holds the whole expansion. False, with the text made so
// far left in the output: a literal that does not fit with its NUL; an
// unknown key (the empty key included); a "}" outside a placeholder; a key
// longer than 1023 characters; a launcher path that cannot be had or does
// not fit; a per-user folder that cannot be had; a temporary folder that
// cannot be had or does not fit in the room left. A computed or constant
// value that does not fit ends the process (abnormal termination), as do the
// failures of the run-unique values. An unclosed placeholder at the end is
// dropped without error. Prints nothing.
bool expand_path_spec(wchar_t *output, const wchar_t *spec, size_t capacity);

#endif
