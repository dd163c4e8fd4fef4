// example_build_info.cpp: the build-time constants of the example build, with
// a payload whose archive holds no record, put in place before main for
// tests and probes that link the launcher's stages without a packed image.
#include "common/build_info.h"

namespace {

// "QJY", one zstd frame decoding to the end marker alone (two zero bytes),
// zero padding, and the length record 16 at offset 16.
const unsigned char EXAMPLE_PAYLOAD[] = {
    'Q',  'J',  'Y',  0x28, 0xb5, 0x2f, 0xfd, 0x00, 0x58, 0x11, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

bool use_example_build_info()
{
    g_build_info.target_spec = L"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0";
    g_build_info.company = L"MOLTARN LLC";
    g_build_info.product = L"vexor";
    g_build_info.version = L"0.2.0-0.2.0.0";
    g_build_info.file_version = L"0.2.0.0";
    g_build_info.product_version = L"0.2.0";
    g_build_info.payload_blob = EXAMPLE_PAYLOAD;
    g_build_info.payload_length = sizeof EXAMPLE_PAYLOAD;
    return true;
}

// Linked as an object file, so this runs in every program that links it.
const bool g_example_build_info_in_place = use_example_build_info();

}  // namespace
