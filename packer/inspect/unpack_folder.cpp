// unpack_folder.cpp: expands a target specification for the current user, as a launcher would.
#include "inspect/unpack_folder.h"

#include "placeholder_tokens.h"

namespace zobrel {
namespace {

bool ends_with_exe(const std::u16string &path)
{
    if (path.size() < 4) return false;
    std::u16string tail = path.substr(path.size() - 4);
    for (char16_t &c : tail) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return tail == u".EXE";
}

}  // namespace

UnpackFolder unpack_folder(const std::u16string &spec, const ProductValues &values,
                           const std::optional<UserFolders> &folders, const std::u16string &program)
{
    UnpackFolder folder;
    std::u16string out;
    PlaceholderToken token;
    for (size_t at = 0; next_placeholder_token(spec.data(), spec.size(), &at, &token);) {
        if (token.kind == PLACEHOLDER_TEXT) {
            out += spec.substr(token.start, token.length);
            continue;
        }
        // The launcher drops "{..." before another "{" or at the end.
        const bool dropped = (token.kind == PLACEHOLDER_REOPENED || token.kind == PLACEHOLDER_UNCLOSED) &&
                             token.key_length <= PLACEHOLDER_KEY_LIMIT;
        if (dropped) continue;
        const SpecKey *key = token.key;
        if (key == nullptr || key->id == SPEC_KEY_UNPACK_DIR) {
            // A specification no packer writes (a damaged or foreign file):
            // the launcher would refuse to expand it.
            UnpackFolder refused;
            refused.expands = false;
            return refused;
        }
        switch (key->id) {
        case SPEC_KEY_COMPANY:
            out += values.company;
            break;
        case SPEC_KEY_PRODUCT:
            out += values.product;
            break;
        case SPEC_KEY_VERSION:
            out += values.version;
            break;
        case SPEC_KEY_FILE_VERSION:
            out += values.file_version;
            break;
        case SPEC_KEY_PRODUCT_VERSION:
            out += values.product_version;
            break;
        case SPEC_KEY_CACHE_DIR:
            out += folders ? folders->cache_dir : u"";
            break;
        case SPEC_KEY_HOME:
            out += folders ? folders->home : u"";
            break;
        case SPEC_KEY_TEMP:
            out += folders ? folders->temp : u"";
            break;
        case SPEC_KEY_PROGRAM:
            out += program;
            break;
        case SPEC_KEY_PROGRAM_BASE:
            out += ends_with_exe(program) ? program.substr(0, program.size() - 4) : program;
            break;
        case SPEC_KEY_PROGRAM_DIR:
            out += program.substr(0, program.rfind(u'\\') == std::u16string::npos ? program.size()
                                                                                  : program.rfind(u'\\'));
            break;
        default:
            // PID, RANDOM, TIME, TIME_US: new for every run, shown as the key.
            folder.varies.push_back(key->name);
            out += u"{" + std::u16string(key->name, key->name + std::char_traits<char>::length(key->name)) +
                   u"}";
            break;
        }
        if (key->strip_trailing_backslashes) {
            while (!out.empty() && out.back() == u'\\') out.pop_back();
        }
    }
    if (folders) {
        folder.path = windows_full_path(out);
        while (!folder.path->empty() && folder.path->back() == u'\\') folder.path->pop_back();
    }
    return folder;
}

}  // namespace zobrel
