// variant_build_info.cpp: build-time constants for test launchers whose
// target specification or payload header is chosen at compile time, so the
// real entry point and main sequence can be run against them.
#include "build-info/build_info.h"

#ifndef VARIANT_TARGET_SPEC
#error "VARIANT_TARGET_SPEC must name the target specification"
#endif
#ifndef VARIANT_MODE_BYTE
#define VARIANT_MODE_BYTE 'Y'
#endif

extern "C" {
const wchar_t zobrel_target_spec[] = VARIANT_TARGET_SPEC;
const wchar_t zobrel_company[] = L"MOLTARN LLC";
const wchar_t zobrel_product[] = L"vexor";
const wchar_t zobrel_version[] = L"0.2.0-0.2.0.0";
const wchar_t zobrel_file_version[] = L"0.2.0.0";
const wchar_t zobrel_product_version[] = L"0.2.0";

// One record "a.txt" holding "hi", then the end marker.
const unsigned char zobrel_payload_blob[] = {
    'Q',  'J',  VARIANT_MODE_BYTE,
    0x28, 0xb5, 0x2f,
    0xfd, 0x00, 0x58,
    0xe1, 0x00, 0x00,
    0x61, 0x00, 0x2e,
    0x00, 0x74, 0x00,
    0x78, 0x00, 0x74,
    0x00, 0x00, 0x00,
    0x02, 0x00, 0x00,
    0x00, 0x00, 0x00,
    0x00, 0x00, 0xac,
    0x2a, 0x93, 0xd8,
    0x68, 0x69, 0x00,
    0x00, 0x00, 0x00,
    0x00, 0x00, 0x00,
    0x00, 0x00, 0x00,
    0x30, 0x00, 0x00,
    0x00, 0x00, 0x00,
    0x00, 0x00,
};
const unsigned long long zobrel_payload_length = sizeof zobrel_payload_blob;
}
