// placeholder_tokens.cpp: splits placeholder text into its tokens.
#include "placeholder_tokens.h"

static unsigned long ascii_upper(unsigned long c)
{
    return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

// Whether the `length` units at text are the upper-case ASCII name, ASCII
// letters compared without regard to case.
static bool names(const char16_t *text, size_t length, const char *name)
{
    size_t i = 0;
    for (; i < length && name[i] != '\0'; i++) {
        if (ascii_upper(text[i]) != static_cast<unsigned char>(name[i])) {
            return false;
        }
    }
    return i == length && name[i] == '\0';
}

const SpecKey *find_spec_key(const char16_t *key, size_t length)
{
    for (const SpecKey &row : SPEC_KEYS) {
        if (names(key, length, row.name)) {
            return &row;
        }
    }
    return NULL;
}

// The argument key the text between braces names, with its argument's
// offset within that text; null when it names none.
static const SpecArgumentKey *find_argument_key(const char16_t *key, size_t length, size_t *argument)
{
    size_t colon = 0;
    while (colon < length && key[colon] != u':') {
        colon++;
    }
    if (colon == length) {
        return NULL;
    }
    for (const SpecArgumentKey &row : SPEC_ARGUMENT_KEYS) {
        if (names(key, colon, row.name)) {
            *argument = colon + 1;
            return &row;
        }
    }
    return NULL;
}

// What a placeholder closed by "}" names.
static void classify_closed(const char16_t *text, PlaceholderToken *token)
{
    const char16_t *key = text + token->key_start;
    size_t argument = 0;
    if ((token->key = find_spec_key(key, token->key_length)) != NULL) {
        token->kind = PLACEHOLDER_KEY;
    } else if ((token->argument_key = find_argument_key(key, token->key_length, &argument)) != NULL) {
        token->kind = PLACEHOLDER_ARGUMENT_KEY;
        token->argument_start = token->key_start + argument;
        token->argument_length = token->key_length - argument;
    } else if (token->key_length > PLACEHOLDER_KEY_LIMIT) {
        token->kind = PLACEHOLDER_KEY_TOO_LONG;
    } else {
        token->kind = PLACEHOLDER_UNKNOWN_KEY;
    }
}

bool next_placeholder_token(const char16_t *text, size_t length, size_t *at, PlaceholderToken *token)
{
    const size_t start = *at;
    if (start >= length) {
        return false;
    }
    token->start = start;
    token->key_start = 0;
    token->key_length = 0;
    token->key = NULL;
    token->argument_key = NULL;
    token->argument_start = 0;
    token->argument_length = 0;
    size_t end = start;
    if (text[start] == u'}') {
        token->kind = PLACEHOLDER_STRAY_CLOSE;
        end = start + 1;
    } else if (text[start] != u'{') {
        token->kind = PLACEHOLDER_TEXT;
        while (end < length && text[end] != u'{' && text[end] != u'}') {
            end++;
        }
    } else {
        token->key_start = start + 1;
        end = start + 1;
        while (end < length && text[end] != u'{' && text[end] != u'}') {
            end++;
        }
        token->key_length = end - token->key_start;
        if (end == length) {
            token->kind = PLACEHOLDER_UNCLOSED;
        } else if (text[end] == u'{') {
            token->kind = PLACEHOLDER_REOPENED;  // the inner "{" is the next token's
        } else {
            end++;  // past the "}"
            classify_closed(text, token);
        }
    }
    token->length = end - start;
    *at = end;
    return true;
}
