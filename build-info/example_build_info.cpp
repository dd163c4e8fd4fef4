// example_build_info.cpp: a hand-written set of build-time constants with the
// product information of the example build and a payload whose archive holds
// no record. Unit tests link it in place of what the packer generates.
#include "build-info/build_info.h"

extern "C" {
const wchar_t zobrel_target_spec[] = L"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0";
const wchar_t zobrel_company[] = L"MOLTARN LLC";
const wchar_t zobrel_product[] = L"vexor";
const wchar_t zobrel_version[] = L"0.2.0-0.2.0.0";
const wchar_t zobrel_file_version[] = L"0.2.0.0";
const wchar_t zobrel_product_version[] = L"0.2.0";

// "QJY", one zstd frame decoding to the end marker alone (two zero bytes),
// zero padding, and the length record 16 at offset 16.
const unsigned char zobrel_payload_blob[] = {
    'Q',  'J',  'Y',  0x28, 0xb5, 0x2f, 0xfd, 0x00, 0x58, 0x11, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
const unsigned long long zobrel_payload_length = sizeof zobrel_payload_blob;
}
