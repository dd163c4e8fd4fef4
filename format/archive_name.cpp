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

static char16_t ascii_upper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

// True when the first length units of text equal the upper-case ASCII word.
static bool is_word(const char16_t *text, size_t length, const char *word)
{
    size_t i = 0;
    for (; i < length && word[i] != '\0'; i++) {
        if (ascii_upper(text[i]) != static_cast<char16_t>(word[i])) {
            return false;
        }
    }
    return i == length && word[i] == '\0';
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
    static const char *const words[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *word : words) {
        if (is_word(component, stem, word)) {
            return true;
        }
    }
    // COM and LPT with one digit: 0 to 9, and the superscripts 1, 2 and 3
    // that Windows also takes for digits here.
    if (stem != 4 || !(is_word(component, 3, "COM") || is_word(component, 3, "LPT"))) {
        return false;
    }
    char16_t digit = component[3];
    return (digit >= u'0' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
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
        return "a component of the name is a Windows device name (CON, NUL, COM1, CONIN$, ...)";
    }
    return NULL;
}

// True when the units equal the ASCII text, letters in any case.
static bool equals_ignoring_case(const char16_t *units, size_t length, const char *text)
{
    for (size_t i = 0; i < length; i++, text++) {
        char16_t c = units[i];
        char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
        char t = *text >= 'a' && *text <= 'z' ? static_cast<char>(*text - ('a' - 'A')) : *text;
        if (*text == '\0' || upper != static_cast<unsigned char>(t)) {
            return false;
        }
    }
    return *text == '\0';
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
    size_t first = 0;
    while (first < length && name[first] != u'\\') {
        first++;
    }
    if (equals_ignoring_case(name, first, STATE_FILE_NAME) ||
        equals_ignoring_case(name, first, STATE_FILE_PARTIAL_NAME) ||
        equals_ignoring_case(name, first, BUILD_MARKER_NAME)) {
        return "the name is one the launcher keeps for its own file in the unpack directory";
    }
    return NULL;
}

size_t launcher_files_written(bool checks_metadata, bool keeps_builds, const char **names)
{
    size_t count = 0;
    if (checks_metadata) {
        names[count++] = STATE_FILE_NAME;
        names[count++] = STATE_FILE_PARTIAL_NAME;
    }
    if (keeps_builds) {
        names[count++] = BUILD_MARKER_NAME;
    }
    return count;
}
