// icon.cpp: fuzzes the packer's reader of the .ico file given with --icon
// (icon_problem), and the resource section it then builds from an icon it
// accepts (make_resource_section), which must carry every image whole.
#include <string.h>

#include <string>

#include "fuzz_target.h"
#include "image/product_info.h"
#include "image/resources.h"
#include "little_endian.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string ico(reinterpret_cast<const char *>(data), size);
    if (!zobrel::icon_problem(ico).empty()) {
        return 0;
    }
    zobrel::ProductInfo info;
    info.target_spec = u"{CACHE_DIR}\\fuzz";
    info.product = u"fuzz";
    info.file_version = u"1.2.3.4";
    const std::string section =
        zobrel::make_resource_section(0x10000, info, ico, zobrel::ExecutionLevel::as_invoker);
    const uint32_t count = read_le16(data + 4);
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char *entry = data + 6 + 16 * i;
        const uint32_t image_size = read_le32(entry + 8);
        const uint32_t offset = read_le32(entry + 12);
        FUZZ_CHECK(memmem(section.data(), section.size(), data + offset, image_size) != nullptr);
    }
    return 0;
}
