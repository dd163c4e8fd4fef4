// constants_block.h: the build constants a packed executable carries for
// its launcher, laid out by the shared writer (build_constants_writer.h).
#ifndef ZOBREL_PACKER_IMAGE_CONSTANTS_BLOCK_H
#define ZOBREL_PACKER_IMAGE_CONSTANTS_BLOCK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build_constants_writer.h"
#include "image/product_info.h"

namespace zobrel {

// What the launcher gives the main program besides the user's command line,
// unexpanded: fixed leading arguments, and environment variables to set (an
// empty value removes one), in order.
struct ChildCommand {
    std::vector<std::u16string> arguments;
    std::vector<EnvironmentEntry> environment;
};

// What a first start shows while it unpacks: nothing, or its progress with
// an optional message (unexpanded path-specification text).
struct ProgressDisplay {
    bool shown = false;
    std::u16string message;
};

// The build constants block the launcher reads at start-up: the target
// specification, the five product strings, the archive's record index, how
// a start checks files already unpacked (a WarmCheck), then the fixed
// arguments and the environment when there are any, in that order; then,
// when keep_builds is given, how many builds' folders a product keeps; then,
// when progress is shown, the progress flag and its message if not empty;
// then, when not empty, the launcher value (launcher_stamp in
// launcher_identity.h) of the prebuilt launcher the image is made from.
std::string constants_block(const ProductInfo &info, const std::vector<IndexEntry> &records,
                            uint32_t warm_check = 0, const ChildCommand &command = {},
                            std::optional<uint32_t> keep_builds = std::nullopt,
                            const ProgressDisplay &progress = {}, const std::string &launcher = {});

}  // namespace zobrel

#endif
