// archive_name.cpp: the safety rule for archive record names.
#include "archive_name.h"

#include "capacities.h"

static bool is_forbidden_character(char16_t c)
{
    switch (c) {
    case u':':
    case u'/':
    case u'<':
    case u'>':
    case u'"':
    case u'|':
    case u'?':
    case u'*':
        return true;
    default:
        return c < 32;
    }
}

bool is_device_name(const char16_t *component, size_t length)
{
    // The stem before the first dot, without trailing spaces, decides.
    size_t stem = 0;
    while (stem < length && component[stem] != u'.') {
        stem++;
    }
    while (stem > 0 && component[stem - 1] == u' ') {
        stem--;
    }
    if (stem != 3 && stem != 4) {
        return false;
    }
    char upper[4];
    for (size_t i = 0; i < stem; i++) {
        char16_t c = component[i];
        if (c >= 0x80) {
            return false;
        }
        upper[i] = static_cast<char>(c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c);
    }
    if (stem == 3) {
        static const char *const three[] = {"CON", "PRN", "AUX", "NUL"};
        for (const char *device : three) {
            if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2]) {
                return true;
            }
        }
        return false;
    }
    bool com = upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M';
    bool lpt = upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T';
    return (com || lpt) && upper[3] >= '1' && upper[3] <= '9';
}

static const char *component_problem(const char16_t *component, size_t length)
{
    if (length == 0) {
        return "the name has an empty component";
    }
    if ((length == 1 && component[0] == u'.') ||
        (length == 2 && component[0] == u'.' && component[1] == u'.')) {
        return "the name has a '.' or '..' component";
    }
    for (size_t i = 0; i < length; i++) {
        char16_t c = component[i];
        if (c < 32) {
            return "the name holds a control character";
        }
        if (c == u':') {
            return "the name holds ':' (a drive or stream on Windows)";
        }
        if (is_forbidden_character(c)) {
            return "the name holds one of the characters Windows forbids in names: < > \" / | ? *";
        }
    }
    char16_t last = component[length - 1];
    if (last == u'.' || last == u' ') {
        return "a component of the name ends in a dot or space, which Windows drops";
    }
    if (is_device_name(component, length)) {
        return "a component of the name is a Windows device name (CON, NUL, COM1, ...)";
    }
    return NULL;
}

const char *archive_name_problem(const char16_t *name, size_t length)
{
    if (length == 0) {
        return "the name is empty";
    }
    if (length > RECORD_NAME_CAPACITY - 1) {
        return "the name is longer than the 1023 UTF-16 units the launcher can carry";
    }
    if (name[0] == u'\\') {
        return "the name is absolute";
    }
    size_t start = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i == length || name[i] == u'\\') {
            const char *problem = component_problem(name + start, i - start);
            if (problem != NULL) {
                return problem;
            }
            start = i + 1;
        }
    }
    return NULL;
}
