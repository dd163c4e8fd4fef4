// build_info.cpp: finds the build-time constants in the launcher's own image.
#include "common/build_info.h"

#include <windows.h>
#include <string.h>

#include "build_constants.h"
#include "little_endian.h"
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

static const wchar_t *text_constant(const ConstantsView &view, ConstantKey key)
{
    return reinterpret_cast<const wchar_t *>(view.values[key]);
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
    ConstantsView view;
    if (check_constants_block(block, block_size, &view) != CONSTANTS_WHOLE) {
        return false;
    }
    BuildInfo loaded = {};
    loaded.target_spec = text_constant(view, CONSTANT_TARGET_SPEC);
    loaded.company = text_constant(view, CONSTANT_COMPANY);
    loaded.product = text_constant(view, CONSTANT_PRODUCT);
    loaded.version = text_constant(view, CONSTANT_VERSION);
    loaded.file_version = text_constant(view, CONSTANT_FILE_VERSION);
    loaded.product_version = text_constant(view, CONSTANT_PRODUCT_VERSION);
    loaded.payload_blob = blob;
    loaded.payload_length = blob_size;
    loaded.record_index = NULL;
    loaded.record_count = 0;
    const unsigned char *index = view.values[CONSTANT_RECORD_INDEX];
    uint32_t count = 0;
    uint32_t records_crc = 0;
    if (index != NULL && check_record_index(index, view.sizes[CONSTANT_RECORD_INDEX], &count, &records_crc)) {
        loaded.record_index = index + RECORD_INDEX_HEADER_SIZE;
        loaded.record_count = count;
        loaded.record_index_crc = records_crc;
    }
    const unsigned char *check = view.values[CONSTANT_WARM_CHECK];
    loaded.warm_check = check != NULL && view.sizes[CONSTANT_WARM_CHECK] == 4 ? read_le32(check)
                                                                              : uint32_t{WARM_CHECK_CONTENT};
    const unsigned char *keep = view.values[CONSTANT_KEEP_BUILDS];
    if (keep != NULL && view.sizes[CONSTANT_KEEP_BUILDS] == 4) {
        const uint32_t n = read_le32(keep);
        loaded.keep_builds = n == 0 ? 1 : n < KEEP_BUILDS_LIMIT ? n : KEEP_BUILDS_LIMIT;
        loaded.remove_own_folder = n == 0;
    }
    const unsigned char *progress = view.values[CONSTANT_PROGRESS];
    loaded.progress = progress != NULL && view.sizes[CONSTANT_PROGRESS] == 4 ? read_le32(progress) : 0;
    loaded.progress_message = text_constant(view, CONSTANT_PROGRESS_MESSAGE);
    // check_constants_block has found both lists whole where they are: each
    // starts with its count.
    const unsigned char *arguments = view.values[CONSTANT_FIXED_ARGUMENTS];
    if (arguments != NULL && read_le32(arguments) > 0) {
        loaded.fixed_arguments = reinterpret_cast<const wchar_t *>(first_list_text(arguments));
        loaded.fixed_argument_count = read_le32(arguments);
    }
    const unsigned char *environment = view.values[CONSTANT_ENVIRONMENT];
    if (environment != NULL && read_le32(environment) > 0) {
        loaded.environment = reinterpret_cast<const wchar_t *>(first_list_text(environment));
        loaded.environment_count = read_le32(environment);
    }
    *build = loaded;
    return true;
}
