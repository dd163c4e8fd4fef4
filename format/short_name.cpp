// short_name.cpp: the short-name (8.3) form of a name component, and the two kinds it decides.
#include "short_name.h"

static bool in_short_name_set(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
        return true;
    }
    switch (c) {
    case u'!':
    case u'#':
    case u'$':
    case u'%':
    case u'&':
    case u'\'':
    case u'(':
    case u')':
    case u'-':
    case u'@':
    case u'^':
    case u'_':
    case u'`':
    case u'{':
    case u'}':
    case u'~':
        return true;
    default:
        return false;
    }
}

// True when the component has the short-name form: a base of 1 to 8, then
// optionally a dot and 1 to 3 more, every unit from the set (or, with
// `extended`, from U+0080 up).
static bool has_short_name_form(const char16_t *component, size_t length, bool extended)
{
    size_t dot = length;
    for (size_t i = 0; i < length; i++) {
        const char16_t c = component[i];
        if (c == u'.') {
            if (dot != length) {
                return false;
            }
            dot = i;
        } else if (!in_short_name_set(c) && !(extended && c >= 0x80)) {
            return false;
        }
    }
    const size_t base = dot, extension = dot == length ? 0 : length - dot - 1;
    return base >= 1 && base <= 8 && (dot == length || (extension >= 1 && extension <= 3));
}

bool gets_generated_short_name(const char16_t *component, size_t length)
{
    return !has_short_name_form(component, length, false);
}

bool could_be_generated_short_name(const char16_t *component, size_t length)
{
    if (!has_short_name_form(component, length, true)) {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        if (component[i] == u'~') {
            return true;
        }
    }
    return false;
}
