// spec_check.h: pack-time checks of target specifications and the default one.
#ifndef ZOBREL_PACKER_SPEC_CHECK_H
#define ZOBREL_PACKER_SPEC_CHECK_H

#include <string>
#include <vector>

namespace zobrel {

// Why the launcher could not expand spec, or "" when it can: an unknown or
// empty key, a '}' outside a placeholder, a '{' inside one (the launcher
// would silently drop the text before it), an unclosed placeholder, an empty
// specification, or literal text longer than a path buffer. On success the
// upper-cased keys it names are appended to keys (if given).
std::string spec_problem(const std::u16string &spec, std::vector<std::string> *keys = nullptr);

// A usable Windows file name made of text: characters Windows forbids in
// names, control characters and braces become '_', trailing dots and spaces
// are dropped, device names get a leading '_', and empty text becomes "_".
std::u16string sanitize_component(const std::u16string &text);

// {CACHE_DIR}\<company, or product if none>\<product>\<version>, every part
// sanitized, so that different products or versions never share a folder.
std::u16string default_target_spec(const std::u16string &company, const std::u16string &product,
                                   const std::u16string &version);

}  // namespace zobrel

#endif
