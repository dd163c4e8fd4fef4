// product_info.cpp: the product's build constants, and the file version's four numbers.
#include "image/product_info.h"

namespace zobrel {

OwnedBuildConstants product_constants(const ProductInfo &info)
{
    OwnedBuildConstants constants;
    constants.target_spec = info.target_spec;
    constants.company = info.company;
    constants.product = info.product;
    constants.version = info.version;
    constants.file_version = info.file_version;
    constants.product_version = info.product_version;
    return constants;
}

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

}  // namespace zobrel
