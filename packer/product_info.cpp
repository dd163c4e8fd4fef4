// product_info.cpp: file version parsing and the build constants block.
#include "product_info.h"

#include "build_constants.h"
#include "build_constants_writer.h"
#include "little_endian.h"

namespace zobrel {

bool parse_file_version(const std::string &text, uint16_t parts[4])
{
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned long value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 5) {
            value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 65535) return false;
        parts[i] = static_cast<uint16_t>(value);
    }
    return pos == text.size();
}

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
