// spec_check.cpp: validates target specifications and builds the default one.
#include "pack/spec_check.h"

#include "archive/names.h"
#include "base/text.h"
#include "capacities.h"
#include "environment_name.h"
#include "placeholder_tokens.h"

namespace zobrel {

namespace {

std::string display(const std::u16string &s)
{
    std::string out;
    utf16_to_utf8(s, out);
    return out;
}

// One piece of an expansion as the packer can foresee it: text it knows, or a
// value only the launcher's machine gives, with the shortest it can be and
// its length with a typical profile folder.
struct Piece {
    std::u16string text;
    const SpecKey *key = nullptr;  // a run-time value when set
    size_t shortest = 0, typical = 0;
};

// A typical profile folder: C:\Users\ and a user name of 20 characters, the
// longest Windows allows for a local account.
const size_t TYPICAL_HOME = 9 + 20;

// The placeholder tokens of text, in order.
std::vector<PlaceholderToken> placeholder_tokens(const std::u16string &text)
{
    std::vector<PlaceholderToken> tokens;
    PlaceholderToken token;
    for (size_t at = 0; next_placeholder_token(text.data(), text.size(), &at, &token);)
        tokens.push_back(token);
    return tokens;
}

// One piece of a specification accepted by spec_problem: literal text, or a
// key. A placeholder is a table key, or {ENV:NAME} (`environment`), whose
// value only the launcher's machine knows and may be empty.
struct Token {
    std::u16string text;
    const SpecKey *key = nullptr;
    bool environment = false;
    bool placeholder() const { return key || environment; }
};

std::vector<Token> tokens_of(const std::u16string &spec)
{
    std::vector<Token> tokens;
    for (const PlaceholderToken &t : placeholder_tokens(spec)) {
        Token token;
        if (t.kind == PLACEHOLDER_TEXT) {
            token.text = spec.substr(t.start, t.length);
        } else {
            token.key = t.key;
            token.environment = t.argument_key && t.argument_key->id == SPEC_ARGUMENT_KEY_ENV;
        }
        tokens.push_back(token);
    }
    return tokens;
}

// The keys whose value is a folder, so that what follows them is a name in
// it, after a backslash.
bool names_folder(SpecKeyId id)
{
    switch (id) {
    case SPEC_KEY_TEMP:
    case SPEC_KEY_HOME:
    case SPEC_KEY_CACHE_DIR:
    case SPEC_KEY_PROGRAM_DIR:
    case SPEC_KEY_UNPACK_DIR:
        return true;
    default:
        return false;
    }
}

bool gives_absolute_path(SpecKeyId id)
{
    switch (id) {
    case SPEC_KEY_TEMP:
    case SPEC_KEY_HOME:
    case SPEC_KEY_CACHE_DIR:
    case SPEC_KEY_PROGRAM:
    case SPEC_KEY_PROGRAM_BASE:
    case SPEC_KEY_PROGRAM_DIR:
        return true;
    default:
        return false;
    }
}

// Lengths of a run-time value: the shortest (a per-user folder at a drive
// root, "C:") and the typical one.
void value_lengths(SpecKeyId id, size_t &shortest, size_t &typical)
{
    switch (id) {
    case SPEC_KEY_HOME:
        shortest = 2, typical = TYPICAL_HOME;
        break;
    case SPEC_KEY_CACHE_DIR:
        shortest = 2, typical = TYPICAL_HOME + 14;
        break;  // \AppData\Local
    case SPEC_KEY_TEMP:
        shortest = 2, typical = TYPICAL_HOME + 19;
        break;  // \AppData\Local\Temp
    case SPEC_KEY_PROGRAM_DIR:
        shortest = 2, typical = TYPICAL_HOME + 10;
        break;  // \Downloads
    case SPEC_KEY_PROGRAM:
        shortest = 4, typical = TYPICAL_HOME + 10 + 1 + 24;
        break;
    case SPEC_KEY_PROGRAM_BASE:
        shortest = 4, typical = TYPICAL_HOME + 10 + 1 + 20;
        break;
    case SPEC_KEY_PID:
        shortest = 1, typical = 5;
        break;
    case SPEC_KEY_RANDOM:
        shortest = typical = 11;
        break;
    case SPEC_KEY_TIME_US:
        shortest = typical = 6;
        break;
    case SPEC_KEY_TIME:
        shortest = typical = 18;
        break;  // 100 ns units since 1601, these centuries
    default:
        shortest = typical = 0;
        break;
    }
}

// The specification (already accepted by spec_problem) as pieces, the
// product keys replaced by their values.
std::vector<Piece> foresee(const std::u16string &spec, const ProductValues &v)
{
    std::vector<Piece> pieces;
    auto add_text = [&](const std::u16string &t) {
        if (pieces.empty() || pieces.back().key) pieces.push_back(Piece{});
        pieces.back().text += t;
    };
    for (const Token &token : tokens_of(spec)) {
        const SpecKey *key = token.key;
        if (token.environment) continue;  // empty when unset: nothing at its shortest
        if (!key) {
            add_text(token.text);
            continue;
        }
        switch (key->id) {
        case SPEC_KEY_COMPANY:
            add_text(v.company);
            break;
        case SPEC_KEY_PRODUCT:
            add_text(v.product);
            break;
        case SPEC_KEY_VERSION:
            add_text(v.version);
            break;
        case SPEC_KEY_FILE_VERSION:
            add_text(v.file_version);
            break;
        case SPEC_KEY_PRODUCT_VERSION:
            add_text(v.product_version);
            break;
        default: {
            Piece p;
            p.key = key;
            value_lengths(key->id, p.shortest, p.typical);
            pieces.push_back(p);
        }
        }
    }
    return pieces;
}

bool ascii_letter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

const SourceFile *longest_name(const std::vector<SourceFile> &files)
{
    const SourceFile *longest = nullptr;
    for (const SourceFile &f : files) {
        if (!longest || f.name.size() > longest->name.size()) longest = &f;
    }
    return longest;
}

// The length of the unpack directory, its shortest or its typical.
size_t folder_length(const std::vector<Piece> &pieces, bool typical)
{
    size_t n = 0;
    for (const Piece &p : pieces) n += p.key ? (typical ? p.typical : p.shortest) : p.text.size();
    return n;
}

}  // namespace

std::string unpack_folder_problem(const std::u16string &spec, const ProductValues &values,
                                  const std::vector<SourceFile> &files)
{
    const std::vector<Piece> pieces = foresee(spec, values);
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (pieces[i].key && gives_absolute_path(pieces[i].key->id)) {
            return "{" + std::string(pieces[i].key->name) +
                   "} gives a whole path with its drive, so it can only begin the specification";
        }
    }
    const bool absolute_key = !pieces.empty() && pieces[0].key && gives_absolute_path(pieces[0].key->id);
    const std::u16string start = pieces.empty() || pieces[0].key ? u"" : pieces[0].text;
    const bool drive = start.size() >= 3 && ascii_letter(start[0]) && start[1] == u':' && start[2] == u'\\';
    const bool share = start.size() >= 2 && start[0] == u'\\' && start[1] == u'\\';
    if (!absolute_key && !drive && !share) {
        return "it does not expand to an absolute path, so the files would be unpacked wherever the program "
               "is "
               "started from; begin it with {CACHE_DIR}, {HOME}, {TEMP}, {PROGRAM_DIR}, a drive such as C:\\ "
               "or a share such as \\\\server\\share";
    }
    const SourceFile *longest = longest_name(files);
    const size_t shortest = folder_length(pieces, false) + (longest ? 1 + longest->name.size() : 0);
    if (shortest > WIDE_PATH_CAPACITY - 1) {
        return "the unpacked path of '" + (longest ? longest->rel : std::string()) + "' would be at least " +
               std::to_string(shortest) + " UTF-16 units long, more than the " +
               std::to_string(WIDE_PATH_CAPACITY - 1) +
               " the launcher can handle; shorten the specification or the names";
    }
    return "";
}

namespace {

// One folder level of an expanded specification, as far as packing can
// foresee it: its known text, and which keys make it differ.
struct Level {
    std::u16string text;
    std::string varying_key;  // the first key that makes it differ between builds or starts
    bool per_start = false;   // a key in it differs between starts of one build
};

std::vector<Level> levels_of(const std::u16string &spec, const ProductValues &v)
{
    std::vector<Level> levels(1);
    auto add = [&](const std::u16string &text, const char *key) {
        for (char16_t c : text) {
            if (c == u'\\') {
                levels.emplace_back();
                continue;
            }
            levels.back().text.push_back(c);
            if (key && levels.back().varying_key.empty()) levels.back().varying_key = key;
        }
    };
    for (const Token &token : tokens_of(spec)) {
        const SpecKey *key = token.key;
        if (!key) {
            add(token.text, nullptr);
            continue;
        }
        switch (key->id) {
        case SPEC_KEY_COMPANY:
            add(v.company, nullptr);
            break;
        case SPEC_KEY_PRODUCT:
            add(v.product, nullptr);
            break;
        case SPEC_KEY_VERSION:
            add(v.version, key->name);
            break;
        case SPEC_KEY_FILE_VERSION:
            add(v.file_version, key->name);
            break;
        case SPEC_KEY_PRODUCT_VERSION:
            add(v.product_version, key->name);
            break;
        case SPEC_KEY_PID:
        case SPEC_KEY_RANDOM:
        case SPEC_KEY_TIME:
        case SPEC_KEY_TIME_US:
            add(u"#", key->name);
            levels.back().per_start = true;
            break;
        default:
            // A whole path of the machine's: its last folder is where the
            // text after it goes on.
            add(u"\\?", nullptr);
            break;
        }
    }
    // A trailing backslash names the same folder.
    while (levels.size() > 1 && levels.back().text.empty()) levels.pop_back();
    return levels;
}

}  // namespace

std::string keep_builds_problem(const std::u16string &spec, const ProductValues &values, uint32_t keep)
{
    const std::vector<Level> levels = levels_of(spec, values);
    const Level &last = levels.back();
    if (keep == 0 && !last.per_start) {
        return "with --keep-builds 0 its last folder must differ between starts, since each start removes "
               "its own folder once the program has ended: put {RANDOM}, {PID}, {TIME} or {TIME_US} in it";
    }
    if (last.varying_key.empty()) {
        return "with --keep-builds its last folder must differ between builds, or else there is nothing to "
               "tidy: put {VERSION}, {FILE_VERSION} or {PRODUCT_VERSION} in it (a folder per build), or "
               "{RANDOM}, {PID}, {TIME} or {TIME_US} (a folder per start), or leave the default "
               "specification";
    }
    for (size_t i = 0; i + 1 < levels.size(); ++i) {
        if (!levels[i].varying_key.empty()) {
            return "with --keep-builds only its last folder may differ between builds or starts, so that "
                   "the builds' folders lie side by side, but {" +
                   levels[i].varying_key + "} puts a difference in a folder above it";
        }
    }
    static const std::u16string reserved = u".zobrel-";
    if (last.text.size() >= reserved.size()) {
        std::u16string start = last.text.substr(0, reserved.size());
        for (char16_t &c : start) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (start == reserved) {
            return "with --keep-builds its last folder must not begin with '.zobrel-', which names the "
                   "launcher's own folders beside it";
        }
    }
    return "";
}

std::string spec_refusal(bool given, const std::u16string &spec, const std::string &why)
{
    return std::string(given ? "option --target-spec" : "the default target specification") + " '" +
           display(spec) + "': " + why;
}

std::string long_path_warning(const std::u16string &spec, const ProductValues &values,
                              const std::vector<SourceFile> &files)
{
    const std::vector<Piece> pieces = foresee(spec, values);
    const SourceFile *longest = longest_name(files);
    if (!longest) return "";
    const size_t typical = folder_length(pieces, true) + 1 + longest->name.size();
    if (typical + 1 <= 260) return "";
    return "the unpacked path of '" + longest->rel + "' would be about " + std::to_string(typical) +
           " UTF-16 units long with a typical profile folder (C:\\Users\\ and a 20-character user name, so "
           "{CACHE_DIR} as C:\\Users\\<user>\\AppData\\Local), more than the 259 that Windows allows without "
           "long-path support (MAX_PATH, 260 with its NUL); programs that lack it may fail to open the file "
           "there. Shorten the target specification or the names if that matters";
}

std::string spec_problem(const std::u16string &spec, std::vector<std::string> *keys, SpecUse use)
{
    if (spec.empty() && use == SpecUse::target) return "the specification is empty";
    size_t literals = 0;
    std::vector<std::string> found;
    for (const PlaceholderToken &t : placeholder_tokens(spec)) {
        const std::u16string key = spec.substr(t.key_start, t.key_length);
        switch (t.kind) {
        case PLACEHOLDER_TEXT:
            literals += t.length;
            break;
        case PLACEHOLDER_REOPENED:
            return "a '{' inside the placeholder that starts with '{" + display(key) + "'";
        case PLACEHOLDER_STRAY_CLOSE:
            return "a '}' outside a placeholder (at character " + std::to_string(t.start + 1) + ")";
        case PLACEHOLDER_UNCLOSED:
            return "the placeholder '{" + display(key) + "' is not closed";
        case PLACEHOLDER_ARGUMENT_KEY: {  // {ENV:NAME}
            if (use == SpecUse::target) {
                return "'{" + display(key) +
                       "}' is a variable of the environment the program is started with, which "
                       "cannot choose the folder it unpacks to; it is for --arg, --env and "
                       "--progress-message";
            }
            const std::u16string name = spec.substr(t.argument_start, t.argument_length);
            if (const char *why = environment_name_problem(name.data(), name.size())) {
                return "in '{" + display(key) + "}': " + why + " " + ENVIRONMENT_NAME_RULE;
            }
            break;
        }
        case PLACEHOLDER_KEY:
            if (t.key->id == SPEC_KEY_UNPACK_DIR && use == SpecUse::target) {
                return "{UNPACK_DIR} is the folder the target specification names, so it cannot be part of "
                       "it; it is for --arg and --env";
            }
            found.push_back(t.key->name);
            break;
        case PLACEHOLDER_UNKNOWN_KEY:
        case PLACEHOLDER_KEY_TOO_LONG: {
            if (key.empty()) return "an empty placeholder '{}'";
            std::string list;
            for (const SpecKey &k : SPEC_KEYS) {
                if (k.id != SPEC_KEY_UNPACK_DIR || use == SpecUse::command)
                    list += (list.empty() ? "" : ", ") + std::string(k.name);
            }
            if (use == SpecUse::command) list += ", ENV:NAME";
            return "unknown key '{" + display(key) + "}' (known keys: " + list + ")";
        }
        }
    }
    if (literals > WIDE_PATH_CAPACITY - 1 && use == SpecUse::target)
        return "its literal text is longer than a Windows path buffer";
    if (keys) keys->insert(keys->end(), found.begin(), found.end());
    return "";
}

std::string lost_backslash_warning(const std::u16string &text)
{
    const std::vector<Token> tokens = tokens_of(text);
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!tokens[i].key || !names_folder(tokens[i].key->id) || tokens[i + 1].placeholder()) continue;
        const char16_t next = tokens[i + 1].text[0];
        // Any character beyond ASCII counts as a letter: after a folder, text
        // that goes on without a backslash is a name run into it.
        const bool letter_or_digit = ascii_letter(next) || (next >= u'0' && next <= u'9') || next >= 0x80;
        if (!letter_or_digit) continue;
        const std::string key = "{" + std::string(tokens[i].key->name) + "}";
        const size_t units = next >= 0xD800 && next <= 0xDBFF ? 2 : 1;
        return "'" + display(tokens[i + 1].text.substr(0, units)) + "' follows " + key +
               ", a folder, with no backslash between them: was a backslash lost? A shell such as bash "
               "drops a backslash that is not quoted (" +
               key + "\\app becomes " + key + "app); quote the value, as in '" + key + "\\...'";
    }
    return "";
}

std::string percent_variable_warning(const std::u16string &text)
{
    for (size_t open = text.find(u'%'); open != std::u16string::npos; open = text.find(u'%', open + 1)) {
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) return "";
        const std::u16string name = text.substr(open + 1, close - open - 1);
        bool plausible = !name.empty();
        for (char16_t c : name) {
            plausible = plausible && (ascii_letter(c) || (c >= u'0' && c <= u'9') || c == u'_' || c == u'(' ||
                                      c == u')' || c == u'-' || c == u'.');
        }
        if (plausible) {
            const std::string shown = display(name);
            return "'%" + shown +
                   "%' is set as written: the launcher does not expand %NAME%; write {ENV:" + shown +
                   "} for the variable of the environment the program is started with";
        }
        open = close - 1;  // the closing '%' may open the next one
    }
    return "";
}

size_t shortest_expansion(const std::u16string &text, const ProductValues &values,
                          const std::u16string &target_spec)
{
    size_t n = 0;
    for (const Piece &p : foresee(text, values)) {
        if (p.key && p.key->id == SPEC_KEY_UNPACK_DIR) {
            n += folder_length(foresee(target_spec, values), false);
        } else {
            n += p.key ? p.shortest : p.text.size();
        }
    }
    return n;
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
