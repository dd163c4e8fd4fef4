// resource_section.cpp: fuzzes the packer's readers of an executable's
// resources: the main program's first icon group, which --icon-from-main
// copies (first_icon_group), and the version resource's strings, which info
// shows (version_strings). Whatever they return must lie in the input, and
// an icon group read must come back whole from the resource section the
// packer builds with it.
//
// Input: the resource directory's address (4 bytes, little-endian), then
// the directory's bytes from that address on.
#include <string.h>

#include <string>

#include "fuzz_target.h"
#include "image/product_info.h"
#include "image/resources.h"
#include "little_endian.h"

static bool inside(const std::string &part, const std::string &whole)
{
    return part.empty() || memmem(whole.data(), whole.size(), part.data(), part.size()) != nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    zobrel::ResourceSection resources;
    resources.rva = read_le32(data);
    resources.bytes.assign(reinterpret_cast<const char *>(data + 4), size - 4);

    const std::optional<std::string> version =
        zobrel::find_resource(resources.bytes, resources.rva, zobrel::RESOURCE_VERSION, 1);
    if (version) {
        FUZZ_CHECK(inside(*version, resources.bytes));
        for (const auto &string : zobrel::version_strings(*version)) {
            FUZZ_CHECK(string.first.size() + string.second.size() <= version->size() / 2);
        }
    }

    std::string why;
    const std::optional<zobrel::IconGroup> icon = zobrel::first_icon_group(resources, &why);
    if (!icon) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    const std::string &directory = icon->directory;
    FUZZ_CHECK(directory.size() >=
               6 + 14 * size_t{read_le16(reinterpret_cast<const unsigned char *>(directory.data()) + 4)});
    FUZZ_CHECK(inside(directory, resources.bytes));
    for (const auto &image : icon->images) {
        FUZZ_CHECK(inside(image.second, resources.bytes));
    }
    // Carried into a packed executable's resources, it reads back the same.
    zobrel::ProductInfo info;
    info.product = u"fuzz";
    info.file_version = u"1.2.3.4";
    zobrel::ResourceSection packed;
    packed.rva = 0x20000;
    packed.bytes = zobrel::make_resource_section(packed.rva, info, *icon, zobrel::ExecutionLevel::as_invoker);
    const std::optional<zobrel::IconGroup> again = zobrel::first_icon_group(packed, &why);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->directory == icon->directory);
    FUZZ_CHECK(again->images == icon->images);
    return 0;
}
