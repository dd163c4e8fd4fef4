// environment_name.h: the rule every environment variable name a build sets
// for its main program must satisfy, shared by the packer (which refuses a
// name that breaks it) and the launcher (which refuses a build that holds
// one), so the two can never disagree.
//
// A name is safe when it has 1 to 1023 units, holds no '=' (Windows ends a name at
// its first '='; names such as "=C:" are the system's own) and no control
// character (U+0000 to U+001F and U+007F), and does not begin with ZOBREL_ in
// any letter case: those variables are the launcher's own, and a build must
// not be able to replace them. Letter case is otherwise free; Windows
// compares names without regard to it.
#ifndef ZOBREL_FORMAT_ENVIRONMENT_NAME_H
#define ZOBREL_FORMAT_ENVIRONMENT_NAME_H

#include <stddef.h>

// Units of a buffer that holds any safe name and a NUL.
static const size_t ENVIRONMENT_NAME_CAPACITY = 1024;

// Units of text a variable's value holds on Windows, its NUL not counted:
// 32,767 units with it. (Wine keeps the first 32,766 units of a longer
// value and reports it set.)
static const size_t ENVIRONMENT_VALUE_LIMIT = 32766;

// The launcher's own prefix, which no build may use.
static const char LAUNCHER_VARIABLE_PREFIX[] = "ZOBREL_";

// Why the name of `length` units is not safe, as a short English phrase
// ("the name is empty"), or null when it is safe.
const char *environment_name_problem(const char16_t *name, size_t length);

#endif
