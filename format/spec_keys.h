// spec_keys.h: the keys a path specification may name, "{KEY}", shared by the
// launcher's expander and the packer's checks of target specifications,
// fixed arguments and environment values. placeholder_tokens.h finds them
// in text: a new plain key is a row of SPEC_KEYS and its value where it is
// used.
#ifndef ZOBREL_FORMAT_SPEC_KEYS_H
#define ZOBREL_FORMAT_SPEC_KEYS_H

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

// Keys that take an argument, "{KEY:ARGUMENT}"; the key's name is matched
// as the plain keys' are, and the argument is the text after the first ':'.
enum SpecArgumentKeyId {
    // "{ENV:NAME}": the variable NAME of the environment the launcher was
    // started with, empty when it is unset; in fixed arguments, environment
    // values and the progress message, never in the target specification.
    // NAME is a name by environment_name.h's rule, compared as Windows
    // compares names.
    SPEC_ARGUMENT_KEY_ENV,
    SPEC_ARGUMENT_KEY_COUNT
};

struct SpecArgumentKey {
    const char *name;  // upper-case ASCII, without the ':'
    SpecArgumentKeyId id;
};

static const SpecArgumentKey SPEC_ARGUMENT_KEYS[SPEC_ARGUMENT_KEY_COUNT] = {
    {"ENV", SPEC_ARGUMENT_KEY_ENV},
};

#endif
