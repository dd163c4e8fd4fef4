// constants_block.cpp: the build constants block of a packed executable.
#include "image/constants_block.h"

#include "build_constants.h"
#include "little_endian.h"

namespace zobrel {

std::string constants_block(const ProductInfo &info, const std::vector<IndexEntry> &records,
                            uint32_t warm_check)
{
    unsigned char check[4];
    write_le32(check, warm_check);
    return write_constants_block({
        {CONSTANT_TARGET_SPEC, constant_text(info.target_spec)},
        {CONSTANT_COMPANY, constant_text(info.company)},
        {CONSTANT_PRODUCT, constant_text(info.product)},
        {CONSTANT_VERSION, constant_text(info.version)},
        {CONSTANT_FILE_VERSION, constant_text(info.file_version)},
        {CONSTANT_PRODUCT_VERSION, constant_text(info.product_version)},
        {CONSTANT_RECORD_INDEX, record_index_value(records)},
        {CONSTANT_WARM_CHECK, std::string(reinterpret_cast<const char *>(check), sizeof check)},
    });
}

}  // namespace zobrel
