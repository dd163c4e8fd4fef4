// spec_check.cpp: validates target specifications and builds the default one.
#include "spec_check.h"

#include "archive.h"
#include "capacities.h"
#include "spec_keys.h"
#include "text.h"

namespace zobrel {

namespace {

std::string display(const std::u16string &s)
{
    std::string out;
    utf16_to_utf8(s, out);
    return out;
}

}  // namespace

std::string spec_problem(const std::u16string &spec, std::vector<std::string> *keys)
{
    if (spec.empty()) return "the specification is empty";
    bool open = false;
    std::u16string key;
    size_t literals = 0;
    std::vector<std::string> found;
    for (size_t i = 0; i < spec.size(); ++i) {
        char16_t c = spec[i];
        if (c == u'{') {
            if (open) return "a '{' inside the placeholder that starts with '{" + display(key) + "'";
            open = true;
            key.clear();
        } else if (c == u'}') {
            if (!open) return "a '}' outside a placeholder (at character " + std::to_string(i + 1) + ")";
            open = false;
            if (key.empty()) return "an empty placeholder '{}'";
            const SpecKey *known = find_spec_key(key.c_str());
            if (!known) {
                std::string list;
                for (const SpecKey &k : SPEC_KEYS) list += (list.empty() ? "" : ", ") + std::string(k.name);
                return "unknown key '{" + display(key) + "}' (known keys: " + list + ")";
            }
            found.push_back(known->name);
        } else if (open) {
            key.push_back(c);
        } else {
            ++literals;
        }
    }
    if (open) return "the placeholder '{" + display(key) + "' is not closed";
    if (literals > WIDE_PATH_CAPACITY - 1) return "its literal text is longer than a Windows path buffer";
    if (keys) keys->insert(keys->end(), found.begin(), found.end());
    return "";
}

std::u16string sanitize_component(const std::u16string &text)
{
    std::u16string out;
    for (char16_t c : text) {
        bool bad = c < 32 || std::u16string(u"<>:\"/\\|?*{}").find(c) != std::u16string::npos;
        out.push_back(bad ? u'_' : c);
    }
    while (!out.empty() && (out.back() == u'.' || out.back() == u' ')) out.pop_back();
    if (out.empty()) return u"_";
    return reserved_device_name(out) ? u"_" + out : out;
}

std::u16string default_target_spec(const std::u16string &company, const std::u16string &product,
                                   const std::u16string &version)
{
    return u"{CACHE_DIR}\\" + sanitize_component(company.empty() ? product : company) + u"\\" +
           sanitize_component(product) + u"\\" + sanitize_component(version);
}

}  // namespace zobrel
