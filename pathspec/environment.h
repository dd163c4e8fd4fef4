// environment.h: reads, sets and removes the launcher's own environment
// variables by narrow ASCII name.
//
// Names are widened one character at a time into a 40-unit buffer, so a name
// holds at most 39 characters; a longer name, or a character that does not
// widen to exactly one UTF-16 unit, ends the process (abnormal termination).
#ifndef ZOBREL_PATHSPEC_ENVIRONMENT_H
#define ZOBREL_PATHSPEC_ENVIRONMENT_H

#include <stddef.h>

// Units of the buffer a variable name is widened into, NUL included.
static const size_t ENV_NAME_CAPACITY = 40;
// Units of the buffer a value is read into, NUL included.
static const size_t ENV_VALUE_CAPACITY = 32768;

// A new heap copy of the variable's value (free() it), or null when the
// variable is unset, set to the empty string, longer than 32,767 units, or the
// copy cannot be allocated.
wchar_t *get_env_var(const char *name);

// Sets the variable to the whole value, or removes it when the value is
// null: false, with the system's error as the thread's last error, when
// the platform refuses it, and when the value is longer than
// ENVIRONMENT_VALUE_LIMIT (32,766 units, ERROR_FILENAME_EXCED_RANGE; it is
// then left as it was), which Wine would cut short and report set.
bool set_variable_whole(const wchar_t *name, const wchar_t *value);

// set_variable_whole by narrow name.
bool set_env_var(const char *name, const wchar_t *value);

// Removes the variable; the platform's result is not examined.
void unset_env_var(const char *name);

#endif
