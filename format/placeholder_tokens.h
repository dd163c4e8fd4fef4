// placeholder_tokens.h: the one reading of placeholder text, "{KEY}" among
// literal units, that the launcher's expanders and the packer's checks and
// displays build on. It splits the text and names the pieces; what a piece
// means (a value, a refusal, nothing at all) is for its user to say.
//
// There is no escape: a literal "{" or "}" cannot be written. Key names
// match without regard to the case of ASCII letters (no other folding), and
// whole: a prefix of a key is no key.
#ifndef ZOBREL_FORMAT_PLACEHOLDER_TOKENS_H
#define ZOBREL_FORMAT_PLACEHOLDER_TOKENS_H

#include <stddef.h>

#include "spec_keys.h"

// Units of the longest text between braces that a key buffer holds, its NUL
// not counted; no key of the table comes near it.
static const size_t PLACEHOLDER_KEY_LIMIT = 1023;

enum PlaceholderTokenKind {
    // Literal units, as many as follow one another: no brace among them.
    PLACEHOLDER_TEXT,
    // "{KEY}", a key of SPEC_KEYS.
    PLACEHOLDER_KEY,
    // "{KEY:ARGUMENT}", a key of SPEC_ARGUMENT_KEYS; the argument may be
    // empty and has no length limit here (its key's own rule judges it).
    PLACEHOLDER_ARGUMENT_KEY,
    // "{...}" that names no key, the empty "{}" included.
    PLACEHOLDER_UNKNOWN_KEY,
    // "{...}" whose text is longer than PLACEHOLDER_KEY_LIMIT and is no
    // argument key: it names no key either.
    PLACEHOLDER_KEY_TOO_LONG,
    // "{..." up to a "{" that comes before any "}"; that "{" begins the
    // next token. Its text may be of any length.
    PLACEHOLDER_REOPENED,
    // A "}" outside a placeholder, on its own.
    PLACEHOLDER_STRAY_CLOSE,
    // "{..." to the end of the text. Its text may be of any length.
    PLACEHOLDER_UNCLOSED,
};

struct PlaceholderToken {
    PlaceholderTokenKind kind;
    // Where the token lies in the text, in units, its braces included.
    size_t start, length;
    // For every kind that begins with "{": the units after it, up to the
    // "}", the next "{" or the end, whichever ended it.
    size_t key_start, key_length;
    // PLACEHOLDER_KEY: its row. Null otherwise.
    const SpecKey *key;
    // PLACEHOLDER_ARGUMENT_KEY: its row, and where its argument lies (the
    // units after the first ':', up to the "}"). Null and 0 otherwise.
    const SpecArgumentKey *argument_key;
    size_t argument_start, argument_length;
};

// Reads the token that begins at *at in the text of `length` units, and
// moves *at past it. False, the token untouched, when *at is at the end.
// The tokens of a text follow one another without a gap, each at least one
// unit long, and two text tokens never follow each other.
bool next_placeholder_token(const char16_t *text, size_t length, size_t *at, PlaceholderToken *token);

// The row of SPEC_KEYS whose name is the `length` units at key, or null.
const SpecKey *find_spec_key(const char16_t *key, size_t length);

#endif
