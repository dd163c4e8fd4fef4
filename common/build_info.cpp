// build_info.cpp: finds the build-time constants in the launcher's own image.
#include "common/build_info.h"

#include <windows.h>
#include <string.h>

#include "build_constants.h"
#include "payload_format.h"

// The section of the running image with this name: its first byte as mapped
// and its VirtualSize. The loader has mapped every section whole, so the
// bytes are there to read.
static bool find_own_section(const char *name, const unsigned char **data, size_t *size)
{
    const unsigned char *base = reinterpret_cast<const unsigned char *>(GetModuleHandleW(NULL));
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    size_t name_length = strlen(name);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        if (memcmp(section->Name, name, name_length) == 0 &&
            (name_length == IMAGE_SIZEOF_SHORT_NAME || section->Name[name_length] == '\0')) {
            *data = base + section->VirtualAddress;
            *size = section->Misc.VirtualSize;
            return true;
        }
    }
    return false;
}

bool load_build_info(BuildInfo *build)
{
    const unsigned char *block = NULL;
    size_t block_size = 0;
    const unsigned char *blob = NULL;
    size_t blob_size = 0;
    return find_own_section(CONSTANTS_SECTION_NAME, &block, &block_size) &&
           find_own_section(PAYLOAD_SECTION_NAME, &blob, &blob_size) &&
           read_build_info(block, block_size, blob, blob_size, build);
}

bool read_build_info(const unsigned char *block, size_t block_size, const unsigned char *blob,
                     size_t blob_size, BuildInfo *build)
{
    if (blob_size < PAYLOAD_HEADER_SIZE) {
        return false;
    }
    BuildInfo loaded = {};
    if (decode_build_constants(block, block_size, &loaded) != CONSTANTS_WHOLE) {
        return false;
    }
    loaded.payload_blob = blob;
    loaded.payload_length = blob_size;
    *build = loaded;
    return true;
}
