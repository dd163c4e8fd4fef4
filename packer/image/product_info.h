// product_info.h: what a packed executable says about its product: the five
// product strings the launcher knows as keys, the target specification and
// the four numbers of its file version.
#ifndef ZOBREL_PACKER_IMAGE_PRODUCT_INFO_H
#define ZOBREL_PACKER_IMAGE_PRODUCT_INFO_H

#include <cstdint>
#include <optional>
#include <string>

#include "build_constants_writer.h"

namespace zobrel {

// What a specification's product keys expand to: all that the checks and
// the expansion of a specification need of the product.
struct ProductValues {
    std::u16string company, product, version, file_version, product_version;
};

// The product as a build gives it: the keys' values and what else the
// executable says of it.
struct ProductInfo : ProductValues {
    std::u16string target_spec;
    uint16_t file_version_parts[4] = {0, 0, 0, 0};
    // The version resource's FileDescription (PRODUCT.exe when not given)
    // and LegalCopyright (none when not given).
    std::optional<std::u16string> description, copyright;
};

// Build constants holding the target specification and the five product
// strings, every other key at its default.
OwnedBuildConstants product_constants(const ProductInfo &info);

// Parses "A.B.C.D", each part a decimal 0..65535. False if text is not that.
bool parse_file_version(const std::string &text, uint16_t parts[4]);

}  // namespace zobrel

#endif
