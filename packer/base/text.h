// text.h: UTF-8 / UTF-16 conversion for names and product strings, and
// paths as message text.
#ifndef ZOBREL_PACKER_BASE_TEXT_H
#define ZOBREL_PACKER_BASE_TEXT_H

#include <filesystem>
#include <string>
#include <vector>

namespace zobrel {

// Converts well-formed UTF-8 to UTF-16. Returns false (out unspecified) for
// malformed, overlong or surrogate-encoding input and for an embedded NUL.
bool utf8_to_utf16(const std::string &in, std::u16string &out);

// Converts UTF-16 to UTF-8. Returns false if the input holds an unpaired
// surrogate; out then carries U+FFFD in its place, fit for display.
bool utf16_to_utf8(const std::u16string &in, std::string &out);

// A path as UTF-8 text, for messages and names, the same on every host (a
// path's plain string() would be in the ANSI code page on Windows).
std::string utf8_path(const std::filesystem::path &path);

// The path that UTF-8 text names (command-line arguments arrive as UTF-8).
std::filesystem::path path_from_utf8(const std::string &text);

// The path in single quotes, as messages name files: 'dir/file'.
std::string quoted(const std::filesystem::path &path);

// The candidate a mistyped word most likely meant, for a "did you mean"
// (an option's name, a command's): the only one the word begins (of at
// least two letters after its dashes), else the one fewest edits away (a
// character inserted, removed or replaced, or two neighbours swapped), the
// first of a tie, if no more than 2 edits (a quarter of the word's letters
// for a long one) and the word has 3 letters or more; "" when none is that
// near.
std::string nearest_word(const std::string &word, const std::vector<std::string> &candidates);

}  // namespace zobrel

#endif
