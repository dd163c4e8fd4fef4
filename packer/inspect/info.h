// info.h: the info command: what a packed executable was built with, as
// lines for people or as one JSON object for scripts.
#ifndef ZOBREL_PACKER_INSPECT_INFO_H
#define ZOBREL_PACKER_INSPECT_INFO_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace zobrel {

// One setting: its label in the text form, its member name in the JSON
// form, and its value (text as UTF-8, a count, a yes/no, a list of texts, or
// nothing known: JSON null); and, when the text form shows it otherwise,
// that line.
struct InfoField {
    std::string label;
    std::string key;
    std::variant<std::string, uint64_t, bool, std::vector<std::string>, std::monostate> value;
    std::string text = "";
};

// The settings of the packed executable, in the order info shows them (the
// JSON members, README's "zobrel-pack info" lists them). The unpack
// directory for the current user is known on Windows only (null elsewhere).
// Throws PackError, naming the file, when it is not a packed executable or
// its build constants do not hold (the launcher would not start).
std::vector<InfoField> packed_settings(const std::filesystem::path &exe);

// Text form: one "label: value" line per field (a list one item per line,
// indented); JSON form: one object, members in the same order, ending in a
// newline.
void print_settings(const std::vector<InfoField> &fields, bool json, std::FILE *out);

// The text as a JSON string literal, quotes included: '"' and '\' escaped,
// control characters as \uXXXX; the UTF-8 otherwise as it is.
std::string json_string(const std::string &utf8);

}  // namespace zobrel

#endif
