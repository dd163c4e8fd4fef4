// text.cpp: strict UTF-8 / UTF-16 conversion, and paths as message text.
#include "base/text.h"

#include <algorithm>
#include <vector>

namespace zobrel {

bool utf8_to_utf16(const std::string &in, std::u16string &out)
{
    out.clear();
    out.reserve(in.size());
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        char32_t cp;
        size_t len;
        if (c == 0) return false;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const char32_t min_for_len[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return true;
}

bool utf16_to_utf8(const std::u16string &in, std::string &out)
{
    out.clear();
    bool ok = true;
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
            ok = false;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return ok;
}

std::string utf8_path(const std::filesystem::path &path)
{
    return path.u8string();
}

std::filesystem::path path_from_utf8(const std::string &text)
{
    return std::filesystem::u8path(text);
}

std::string quoted(const std::filesystem::path &path)
{
    return "'" + utf8_path(path) + "'";
}

namespace {

// Edits that turn a into b: a character inserted, removed or replaced, or
// two neighbours swapped ("levle" is one edit from "level").
size_t edit_distance(const std::string &a, const std::string &b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t replace = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, replace});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string nearest_word(const std::string &word, const std::vector<std::string> &candidates)
{
    const size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
    // A word that begins exactly one candidate means it.
    std::string begun;
    size_t begins = 0;
    for (const std::string &c : candidates) {
        if (letters >= 2 && c.size() > word.size() && c.compare(0, word.size(), word) == 0) {
            begun = c;
            ++begins;
        }
    }
    if (begins == 1) return begun;
    // One or two letters are too few to guess from.
    if (letters < 3) return "";
    std::string best;
    size_t best_distance = std::max<size_t>(2, letters / 4) + 1;
    for (const std::string &c : candidates) {
        const size_t distance = edit_distance(word, c);
        if (distance < best_distance) {
            best = c;
            best_distance = distance;
        }
    }
    return best;
}

}  // namespace zobrel
