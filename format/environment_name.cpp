// environment_name.cpp: the rule for environment variable names a build sets.
#include "environment_name.h"

static char16_t ascii_upper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

const char *environment_name_problem(const char16_t *name, size_t length)
{
    if (length == 0) {
        return "the name is empty";
    }
    if (length >= ENVIRONMENT_NAME_CAPACITY) {
        return "the name is longer than 1023 characters";
    }
    for (size_t i = 0; i < length; i++) {
        if (name[i] == u'=') {
            return "the name holds '='";
        }
        if (name[i] < 0x20 || name[i] == 0x7F) {
            return "the name holds a control character";
        }
    }
    size_t i = 0;
    for (; LAUNCHER_VARIABLE_PREFIX[i] != '\0'; i++) {
        if (i >= length || ascii_upper(name[i]) != static_cast<char16_t>(LAUNCHER_VARIABLE_PREFIX[i])) {
            return NULL;
        }
    }
    return "names that begin with ZOBREL_ are the launcher's own";
}
