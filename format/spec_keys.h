// spec_keys.h: the keys a path specification may name, "{KEY}", shared by the
// launcher's expander and the packer's checks of target specifications,
// fixed arguments and environment values.
#ifndef ZOBREL_FORMAT_SPEC_KEYS_H
#define ZOBREL_FORMAT_SPEC_KEYS_H

#include <stddef.h>

enum SpecKeyId {
    SPEC_KEY_TEMP,
    SPEC_KEY_PROGRAM,
    SPEC_KEY_PROGRAM_BASE,
    SPEC_KEY_PROGRAM_DIR,
    SPEC_KEY_PID,
    SPEC_KEY_HOME,
    SPEC_KEY_CACHE_DIR,
    SPEC_KEY_COMPANY,
    SPEC_KEY_PRODUCT,
    SPEC_KEY_VERSION,
    SPEC_KEY_FILE_VERSION,
    SPEC_KEY_PRODUCT_VERSION,
    SPEC_KEY_RANDOM,
    SPEC_KEY_TIME_US,
    SPEC_KEY_TIME,
    // The unpack directory itself: in fixed arguments and environment values
    // only, never in the target specification that names it.
    SPEC_KEY_UNPACK_DIR,
    SPEC_KEY_COUNT
};

struct SpecKey {
    const char *name;  // upper-case ASCII
    SpecKeyId id;
    // After the value is appended, backslashes at the end of the whole output go.
    bool strip_trailing_backslashes;
};

static const SpecKey SPEC_KEYS[SPEC_KEY_COUNT] = {
    {"TEMP", SPEC_KEY_TEMP, true},
    {"PROGRAM", SPEC_KEY_PROGRAM, false},
    {"PROGRAM_BASE", SPEC_KEY_PROGRAM_BASE, false},
    {"PROGRAM_DIR", SPEC_KEY_PROGRAM_DIR, false},
    {"PID", SPEC_KEY_PID, false},
    {"HOME", SPEC_KEY_HOME, true},
    {"CACHE_DIR", SPEC_KEY_CACHE_DIR, true},
    {"COMPANY", SPEC_KEY_COMPANY, false},
    {"PRODUCT", SPEC_KEY_PRODUCT, false},
    {"VERSION", SPEC_KEY_VERSION, false},
    {"FILE_VERSION", SPEC_KEY_FILE_VERSION, false},
    {"PRODUCT_VERSION", SPEC_KEY_PRODUCT_VERSION, false},
    {"RANDOM", SPEC_KEY_RANDOM, false},
    {"TIME_US", SPEC_KEY_TIME_US, false},
    {"TIME", SPEC_KEY_TIME, false},
    {"UNPACK_DIR", SPEC_KEY_UNPACK_DIR, true},
};

// The table entry whose name equals the NUL-terminated key as a whole, ASCII
// letters compared without regard to case (no other folding); null when no
// key matches, the empty key included. Unit is any character type.
template <typename Unit>
const SpecKey *find_spec_key(const Unit *key)
{
    for (size_t i = 0; i < SPEC_KEY_COUNT; i++) {
        const char *name = SPEC_KEYS[i].name;
        const Unit *k = key;
        for (; *k != 0 && *name != '\0'; k++, name++) {
            unsigned long c = static_cast<unsigned long>(*k);
            unsigned long upper = (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
            if (upper != static_cast<unsigned char>(*name)) {
                break;
            }
        }
        if (*k == 0 && *name == '\0') {
            return &SPEC_KEYS[i];
        }
    }
    return NULL;
}

// "{ENV:NAME}": the variable NAME of the environment the launcher was started
// with, empty when it is unset; in fixed arguments, environment values and
// the progress message, never in the target specification. The prefix's
// letters match without regard to case; NAME is a name by
// environment_name.h's rule, compared as Windows compares names.
static const size_t ENV_KEY_PREFIX_LENGTH = 4;

// Whether the placeholder's text (`length` units, without its braces) is an
// environment key; its name is then the text after ENV_KEY_PREFIX_LENGTH
// units, which may be empty.
template <typename Unit>
bool is_environment_key(const Unit *key, size_t length)
{
    static const char prefix[] = "ENV:";
    if (length < ENV_KEY_PREFIX_LENGTH) {
        return false;
    }
    for (size_t i = 0; i < ENV_KEY_PREFIX_LENGTH; i++) {
        unsigned long c = static_cast<unsigned long>(key[i]);
        unsigned long upper = (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
        if (upper != static_cast<unsigned char>(prefix[i])) {
            return false;
        }
    }
    return true;
}

#endif
