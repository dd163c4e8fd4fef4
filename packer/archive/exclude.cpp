// exclude.cpp: --exclude patterns compiled into folder levels and matched against relative paths.
#include "archive/exclude.h"

#include "base/error.h"
#include "base/text.h"
#include "name_fold.h"

namespace zobrel {
namespace {

const std::u16string ANY_LEVELS = u"**";

bool separator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

// The folder levels of a path, empty ones (doubled or outer separators) dropped.
std::vector<std::u16string> levels_of(const std::u16string &path, bool fold)
{
    std::vector<std::u16string> levels;
    std::u16string level;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || separator(path[i])) {
            if (!level.empty()) levels.push_back(level);
            level.clear();
        } else {
            level.push_back(fold ? name_fold_unit(path[i]) : path[i]);
        }
    }
    return levels;
}

bool high_surrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

// How many units the character at `at` takes: a surrogate pair is one character.
size_t character_length(const std::u16string &text, size_t at)
{
    return high_surrogate(text[at]) && at + 1 < text.size() ? 2 : 1;
}

// One folder level against one pattern level ('*' and '?'), both folded.
// Greedy, going back to the last '*' on a mismatch: linear in practice, and
// never worse than the product of the two lengths.
bool level_matches(const std::u16string &pattern, const std::u16string &name)
{
    size_t p = 0, n = 0;
    size_t star = std::u16string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'?') {
            n += character_length(name, n);
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            resume += character_length(name, resume);
            n = resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// Pattern levels against path levels, "**" taking any number of path levels
// (at least one when it ends the pattern: "a/**" is what is inside a, not a
// itself). Each pair of positions is tried once.
bool levels_match(const std::vector<std::u16string> &pattern, const std::vector<std::u16string> &path)
{
    const size_t columns = path.size() + 1;
    // 0 unknown, 1 no, 2 yes: whether pattern[p..] matches path[n..].
    std::vector<unsigned char> known((pattern.size() + 1) * columns, 0);
    struct Matcher {
        const std::vector<std::u16string> &pattern, &path;
        std::vector<unsigned char> &known;
        size_t columns;
        bool from(size_t p, size_t n)
        {
            unsigned char &memo = known[p * columns + n];
            if (memo != 0) return memo == 2;
            bool yes;
            if (p == pattern.size()) {
                yes = n == path.size();
            } else if (pattern[p] == ANY_LEVELS) {
                yes = false;
                const size_t fewest = p + 1 == pattern.size() ? 1 : 0;
                for (size_t k = n + fewest; k <= path.size() && !yes; ++k) yes = from(p + 1, k);
            } else {
                yes = n < path.size() && level_matches(pattern[p], path[n]) && from(p + 1, n + 1);
            }
            memo = yes ? 2 : 1;
            return yes;
        }
    } matcher{pattern, path, known, columns};
    return matcher.from(0, 0);
}

}  // namespace

Exclusions::Exclusions(const std::vector<std::string> &patterns)
{
    for (const std::string &given : patterns) {
        const std::string who = "option --exclude '" + given + "': ";
        std::u16string text;
        if (!utf8_to_utf16(given, text)) throw UsageError(who + "not valid UTF-8 text");
        Pattern pattern;
        pattern.given = given;
        if (!text.empty() && text[0] == u'!') {
            pattern.negated = true;
            text.erase(0, 1);
        }
        // A separator at the start or in the middle ties the pattern to the
        // application folder; one at the end only asks for a folder.
        while (!text.empty() && separator(text.back())) {
            pattern.folders_only = true;
            text.pop_back();
        }
        bool anchored = false;
        for (char16_t c : text) anchored = anchored || separator(c);
        pattern.levels = levels_of(text, true);
        if (pattern.levels.empty()) throw UsageError(who + "the pattern names nothing");
        for (const std::u16string &level : pattern.levels) {
            if (level == u"." || level == u"..") {
                throw UsageError(who +
                                 "'.' and '..' cannot name anything inside the application folder; write the "
                                 "path from the folder itself, such as docs/*.md");
            }
        }
        if (!anchored) pattern.levels.insert(pattern.levels.begin(), ANY_LEVELS);
        patterns_.push_back(pattern);
    }
    used_.assign(patterns_.size(), false);
}

int Exclusions::deciding(const std::vector<std::u16string> &levels, bool folder,
                         std::vector<bool> *matched) const
{
    int last = -1;
    for (size_t i = 0; i < patterns_.size(); ++i) {
        const Pattern &p = patterns_[i];
        if (p.folders_only && !folder) continue;
        if (!levels_match(p.levels, levels)) continue;
        last = static_cast<int>(i);
        if (matched) (*matched)[i] = true;
    }
    return last;
}

bool Exclusions::excludes(const std::u16string &path, bool folder)
{
    if (patterns_.empty()) return false;
    const int last = deciding(levels_of(path, true), folder, &used_);
    return last >= 0 && !patterns_[static_cast<size_t>(last)].negated;
}

std::string Exclusions::excluding_pattern(const std::string &path) const
{
    std::u16string text;
    if (patterns_.empty() || !utf8_to_utf16(path, text)) return "";
    const std::vector<std::u16string> levels = levels_of(text, true);
    // Outermost first: nothing inside a folder left out is read at all.
    for (size_t depth = 1; depth <= levels.size(); ++depth) {
        const std::vector<std::u16string> prefix(levels.begin(), levels.begin() + static_cast<long>(depth));
        const int last = deciding(prefix, depth < levels.size(), nullptr);
        if (last >= 0 && !patterns_[static_cast<size_t>(last)].negated)
            return patterns_[static_cast<size_t>(last)].given;
    }
    return "";
}

std::vector<std::string> Exclusions::unused() const
{
    std::vector<std::string> out;
    for (size_t i = 0; i < patterns_.size(); ++i) {
        if (!used_[i]) out.push_back(patterns_[i].given);
    }
    return out;
}

}  // namespace zobrel
