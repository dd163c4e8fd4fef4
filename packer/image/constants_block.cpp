// constants_block.cpp: the build constants block of a packed executable.
#include "image/constants_block.h"

#include "build_constants.h"
#include "little_endian.h"

namespace zobrel {

std::string constants_block(const ProductInfo &info, const std::vector<IndexEntry> &records,
                            uint32_t warm_check, const ChildCommand &command)
{
    unsigned char check[4];
    write_le32(check, warm_check);
    std::vector<ConstantValue> values = {
        {CONSTANT_TARGET_SPEC, constant_text(info.target_spec)},
        {CONSTANT_COMPANY, constant_text(info.company)},
        {CONSTANT_PRODUCT, constant_text(info.product)},
        {CONSTANT_VERSION, constant_text(info.version)},
        {CONSTANT_FILE_VERSION, constant_text(info.file_version)},
        {CONSTANT_PRODUCT_VERSION, constant_text(info.product_version)},
        {CONSTANT_RECORD_INDEX, record_index_value(records)},
        {CONSTANT_WARM_CHECK, std::string(reinterpret_cast<const char *>(check), sizeof check)},
    };
    // Left out when empty, so a build without them stays as it was.
    if (!command.arguments.empty())
        values.push_back({CONSTANT_FIXED_ARGUMENTS, argument_list_value(command.arguments)});
    if (!command.environment.empty())
        values.push_back({CONSTANT_ENVIRONMENT, environment_list_value(command.environment)});
    return write_constants_block(values);
}

}  // namespace zobrel
