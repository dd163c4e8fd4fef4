// placeholder_text.cpp: fuzzes the placeholder tokenizer
// (next_placeholder_token), which the launcher runs on the texts of its own
// build at every start and the packer on every specification, argument and
// environment value it is given, and the packer's readings built on it.
//
// Input: the text as UTF-16 units, little-endian (an odd last byte is
// dropped). The tokens tile the text and each is what its kind says; the
// packer accepts for a command exactly the texts whose tokens are all text,
// keys and environment keys with usable names; the unpack folder a packed
// file's information shows is worked out for any target specification,
// never from one the launcher would not expand.
#include <string>
#include <vector>

#include "environment_name.h"
#include "fuzz_target.h"
#include "inspect/unpack_folder.h"
#include "little_endian.h"
#include "pack/spec_check.h"
#include "placeholder_tokens.h"

static bool is_brace(char16_t unit)
{
    return unit == u'{' || unit == u'}';
}

static bool holds_brace(const std::u16string &text, size_t start, size_t length)
{
    for (size_t i = start; i < start + length; i++) {
        if (is_brace(text[i])) {
            return true;
        }
    }
    return false;
}

static char16_t ascii_upper(char16_t unit)
{
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

static bool equals_name(const std::u16string &text, size_t start, size_t length, const char *name)
{
    if (std::char_traits<char>::length(name) != length) {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        if (ascii_upper(text[start + i]) != static_cast<unsigned char>(name[i])) {
            return false;
        }
    }
    return true;
}

static bool names_key(const std::u16string &text, size_t start, size_t length)
{
    for (const SpecKey &key : SPEC_KEYS) {
        if (equals_name(text, start, length, key.name)) {
            return true;
        }
    }
    return false;
}

// Checks one token against the text; true when the packer would accept it
// in a command.
static bool check_token(const std::u16string &text, const PlaceholderToken &t)
{
    const size_t end = t.start + t.length;
    FUZZ_CHECK(t.length >= 1 && end <= text.size());
    if (t.kind == PLACEHOLDER_TEXT) {
        FUZZ_CHECK(!holds_brace(text, t.start, t.length) && t.key == nullptr && t.argument_key == nullptr);
        FUZZ_CHECK(end == text.size() || is_brace(text[end]));  // as long as it can be
        return true;
    }
    if (t.kind == PLACEHOLDER_STRAY_CLOSE) {
        FUZZ_CHECK(t.length == 1 && text[t.start] == u'}');
        return false;
    }
    // A placeholder: "{", its text without braces, then what ended it.
    FUZZ_CHECK(text[t.start] == u'{' && t.key_start == t.start + 1);
    FUZZ_CHECK(!holds_brace(text, t.key_start, t.key_length));
    const bool closed = t.length == t.key_length + 2;
    FUZZ_CHECK(closed || t.length == t.key_length + 1);
    FUZZ_CHECK(!closed || text[end - 1] == u'}');
    FUZZ_CHECK((t.key != nullptr) == (t.kind == PLACEHOLDER_KEY));
    FUZZ_CHECK((t.argument_key != nullptr) == (t.kind == PLACEHOLDER_ARGUMENT_KEY));
    const bool is_key = names_key(text, t.key_start, t.key_length);
    switch (t.kind) {
    case PLACEHOLDER_KEY:
        FUZZ_CHECK(closed && equals_name(text, t.key_start, t.key_length, t.key->name));
        return true;
    case PLACEHOLDER_ARGUMENT_KEY: {
        FUZZ_CHECK(closed && !is_key && t.argument_key->id == SPEC_ARGUMENT_KEY_ENV);
        FUZZ_CHECK(t.argument_start == t.key_start + 4 && t.argument_start + t.argument_length == end - 1);
        FUZZ_CHECK(equals_name(text, t.key_start, 4, "ENV:"));
        return environment_name_problem(text.data() + t.argument_start, t.argument_length) == nullptr;
    }
    case PLACEHOLDER_UNKNOWN_KEY:
    case PLACEHOLDER_KEY_TOO_LONG:
        FUZZ_CHECK(closed && !is_key && !(t.key_length >= 4 && equals_name(text, t.key_start, 4, "ENV:")));
        FUZZ_CHECK((t.kind == PLACEHOLDER_KEY_TOO_LONG) == (t.key_length > PLACEHOLDER_KEY_LIMIT));
        return false;
    case PLACEHOLDER_REOPENED:
        FUZZ_CHECK(!closed && end < text.size() && text[end] == u'{');
        return false;
    case PLACEHOLDER_UNCLOSED:
        FUZZ_CHECK(!closed && end == text.size());
        return false;
    case PLACEHOLDER_TEXT:
    case PLACEHOLDER_STRAY_CLOSE:
        break;
    }
    FUZZ_CHECK(false);
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); i++) {
        text[i] = static_cast<char16_t>(read_le16(data + 2 * i));
    }
    size_t at = 0, tokens = 0;
    bool accepted = true, target_keys_only = true, previous_text = false;
    PlaceholderToken token;
    while (next_placeholder_token(text.data(), text.size(), &at, &token)) {
        FUZZ_CHECK(token.start + token.length == at && ++tokens <= text.size());
        FUZZ_CHECK(!(previous_text && token.kind == PLACEHOLDER_TEXT));
        previous_text = token.kind == PLACEHOLDER_TEXT;
        accepted = check_token(text, token) && accepted;
        target_keys_only =
            target_keys_only && (token.kind == PLACEHOLDER_TEXT ||
                                 (token.kind == PLACEHOLDER_KEY && token.key->id != SPEC_KEY_UNPACK_DIR));
    }
    FUZZ_CHECK(at == text.size());
    FUZZ_CHECK(zobrel::spec_problem(text, nullptr, zobrel::SpecUse::command).empty() == accepted);

    const zobrel::ProductValues values{u"Company", u"Product", u"1.0", u"1.0.0.0", u"1.0"};
    const zobrel::UnpackFolder folder = zobrel::unpack_folder(
        text, values, zobrel::UserFolders{u"C:\\u", u"C:\\u\\Local", u"C:\\t"}, u"C:\\a\\x.exe");
    if (target_keys_only) {
        FUZZ_CHECK(folder.expands);
    }
    if (!folder.expands) {
        FUZZ_CHECK(!folder.path && folder.varies.empty());
    }
    return 0;
}
