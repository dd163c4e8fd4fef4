// example_build_info.cpp: the build-time constants of the example build, with
// a payload whose archive holds no record, for tests and probes that link the
// launcher's stages without a packed image.
#include "example_build_info.h"

namespace {

// "QJY", one zstd frame decoding to the end marker alone (two zero bytes),
// zero padding, and the length record 16 at offset 16.
const unsigned char EXAMPLE_PAYLOAD[] = {
    'Q',  'J',  'Y',  0x28, 0xb5, 0x2f, 0xfd, 0x00, 0x58, 0x11, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

}  // namespace

void use_example_build_info(BuildInfo *build)
{
    *build = BuildInfo{};
    build->target_spec = L"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0";
    build->company = L"MOLTARN LLC";
    build->product = L"vexor";
    build->version = L"0.2.0-0.2.0.0";
    build->file_version = L"0.2.0.0";
    build->product_version = L"0.2.0";
    build->payload_blob = EXAMPLE_PAYLOAD;
    build->payload_length = sizeof EXAMPLE_PAYLOAD;
}

void init_example_launch(LaunchShared *launch, const wchar_t *argv0)
{
    init_launch_shared(launch, argv0);
    use_example_build_info(&launch->build);
}
