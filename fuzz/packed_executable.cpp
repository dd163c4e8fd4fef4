// packed_executable.cpp: fuzzes what the packer's inspection commands read
// from a whole packed executable, as `zobrel-pack verify`, `list` and `info`
// do: the PE headers and sections, the payload blob and its archive, the
// build constants and their record index, and how they agree. Each may
// refuse the file (PackError, a false verify); none may fail otherwise,
// and a file verify passes must be one list and info read too. The JSON
// form of info must be UTF-8 whatever the texts the file carries.
//
// Input: one flags byte, then the file. Flag 1 repairs the CRC-32s of the
// constants section (checksum_repair.h) when the section lies in the file.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "build_constants.h"
#include "checksum_repair.h"
#include "fuzz_target.h"
#include "inspect/info.h"
#include "inspect/list.h"
#include "inspect/verify.h"
#include "memory_file.h"
#include "pe_sections.h"

// True when the bytes are well-formed UTF-8: shortest forms, no surrogates,
// nothing above U+10FFFF.
static bool is_utf8(const std::string &text)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t length;
        uint32_t cp;
        if (c < 0x80) {
            i++;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        for (size_t k = 1; k < length; k++) {
            if ((p[i + k] & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

// What print_settings writes, as a string.
static std::string printed(const std::vector<zobrel::InfoField> &fields, bool json)
{
    char *text = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&text, &length);
    FUZZ_CHECK(out != nullptr);
    zobrel::print_settings(fields, json, out);
    FUZZ_CHECK(fclose(out) == 0);
    std::string result(text, length);
    free(text);
    return result;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    std::vector<unsigned char> file(data + 1, data + size);
    PeFileSection constants;
    if ((data[0] & 1) && find_pe_section(file.data(), file.size(), CONSTANTS_SECTION_NAME, &constants) &&
        pe_section_contents_fit(constants, file.size())) {
        repair_constants_crcs(file.data() + constants.header.raw_offset, constants.header.virtual_size);
    }
    const std::filesystem::path exe = memory_file_with(file.data(), file.size());
    static FILE *const nowhere = fopen("/dev/null", "w");
    FUZZ_CHECK(nowhere != nullptr);

    const bool verified = zobrel::run_verify(exe, nowhere);
    try {
        zobrel::run_list(exe, nowhere);
    } catch (const zobrel::PackError &) {
        FUZZ_CHECK(!verified);
    }
    try {
        const std::vector<zobrel::InfoField> fields = zobrel::packed_settings(exe);
        printed(fields, false);
        FUZZ_CHECK(is_utf8(printed(fields, true)));
    } catch (const zobrel::PackError &) {
        FUZZ_CHECK(!verified);
    }
    return 0;
}
