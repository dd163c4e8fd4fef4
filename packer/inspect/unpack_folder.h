// unpack_folder.h: the folder a packed executable unpacks into for the user
// who runs zobrel-pack, worked out as its launcher would.
#ifndef ZOBREL_PACKER_INSPECT_UNPACK_FOLDER_H
#define ZOBREL_PACKER_INSPECT_UNPACK_FOLDER_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"
#include "image/product_info.h"

namespace zobrel {

struct UnpackFolder {
    // The expansion made absolute, without the backslashes it may end in
    // (as the launcher publishes it), with each run-unique key left as
    // "{KEY}"; none when the user's folders are not known (not on Windows).
    std::optional<std::u16string> path;
    // The run-unique keys the specification names (PID, RANDOM, TIME,
    // TIME_US), upper-case, in the order they appear: the folder is new for
    // every run when there is one.
    std::vector<std::string> varies;
    // False when the launcher would not expand the specification (an
    // unknown key, a stray '}', {UNPACK_DIR} or {ENV:NAME}): then there is
    // no path and nothing varies.
    bool expands = true;
};

// The target specification (one the packer accepts) expanded as the
// launcher expands it: the product keys from values, CACHE_DIR, HOME and
// TEMP from folders (backslashes at the end of the text so far dropped
// after each), PROGRAM, PROGRAM_BASE and PROGRAM_DIR from the executable's
// present full path; then made absolute as Windows does.
UnpackFolder unpack_folder(const std::u16string &spec, const ProductValues &values,
                           const std::optional<UserFolders> &folders, const std::u16string &program);

}  // namespace zobrel

#endif
