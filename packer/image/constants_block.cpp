// constants_block.cpp: the build constants block of a packed executable.
#include "image/constants_block.h"

#include "build_constants.h"
#include "little_endian.h"

namespace zobrel {

namespace {

std::string u32_value(uint32_t value)
{
    unsigned char bytes[4];
    write_le32(bytes, value);
    return std::string(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

}  // namespace

std::string constants_block(const ProductInfo &info, const std::vector<IndexEntry> &records,
                            uint32_t warm_check, const ChildCommand &command,
                            std::optional<uint32_t> keep_builds, const ProgressDisplay &progress,
                            const std::string &launcher)
{
    std::vector<ConstantValue> values = {
        {CONSTANT_TARGET_SPEC, constant_text(info.target_spec)},
        {CONSTANT_COMPANY, constant_text(info.company)},
        {CONSTANT_PRODUCT, constant_text(info.product)},
        {CONSTANT_VERSION, constant_text(info.version)},
        {CONSTANT_FILE_VERSION, constant_text(info.file_version)},
        {CONSTANT_PRODUCT_VERSION, constant_text(info.product_version)},
        {CONSTANT_RECORD_INDEX, record_index_value(records)},
        {CONSTANT_WARM_CHECK, u32_value(warm_check)},
    };
    // Left out when empty, so a build without them stays as it was.
    if (!command.arguments.empty())
        values.push_back({CONSTANT_FIXED_ARGUMENTS, argument_list_value(command.arguments)});
    if (!command.environment.empty())
        values.push_back({CONSTANT_ENVIRONMENT, environment_list_value(command.environment)});
    // Written only when asked for: a build without it keeps every folder,
    // where 0 removes even its own.
    if (keep_builds) values.push_back({CONSTANT_KEEP_BUILDS, u32_value(*keep_builds)});
    // The same: a build without --progress stays silent as before.
    if (progress.shown) {
        values.push_back({CONSTANT_PROGRESS, u32_value(1)});
        if (!progress.message.empty())
            values.push_back({CONSTANT_PROGRESS_MESSAGE, constant_text(progress.message)});
    }
    if (!launcher.empty()) values.push_back({CONSTANT_LAUNCHER, launcher});
    return write_constants_block(values);
}

}  // namespace zobrel
