// build_marker_layout.cpp: reads and writes the build marker.
#include "build_marker_layout.h"

#include <string.h>

#include <libdeflate.h>

#include "fnv1a.h"
#include "little_endian.h"

static const unsigned char MARKER_MAGIC[8] = {'Z', 'O', 'B', 'B', 'U', 'I', 'L', '2'};
static const unsigned char EARLIER_MARKER_MAGIC[8] = {'Z', 'O', 'B', 'B', 'U', 'I', 'L', 'D'};

uint64_t build_marker_identity(const char16_t *company, const char16_t *product)
{
    uint64_t hash = FNV1A_START;
    const char16_t *parts[2] = {company, product};
    for (int part = 0; part < 2; part++) {
        for (const char16_t *unit = parts[part]; *unit != u'\0'; unit++) {
            hash = fnv1a_unit(hash, static_cast<uint16_t>(*unit));
        }
        // The 0 unit between them: "ab" + "c" is not "a" + "bc".
        hash = fnv1a_unit(hash, 0);
    }
    return hash;
}

BuildMarkerForm check_build_marker(const unsigned char *bytes, size_t size, BuildMarkerView *view)
{
    memset(view, 0, sizeof *view);
    if (size == EARLIER_BUILD_MARKER_SIZE &&
        memcmp(bytes, EARLIER_MARKER_MAGIC, sizeof EARLIER_MARKER_MAGIC) == 0) {
        view->identity = read_le64(bytes + 8);
        return BUILD_MARKER_EARLIER;
    }
    if (size < BUILD_MARKER_HEADER_SIZE + 4 || memcmp(bytes, MARKER_MAGIC, sizeof MARKER_MAGIC) != 0) {
        return BUILD_MARKER_NONE;
    }
    const uint32_t length = read_le32(bytes + 16);
    if (length == 0 || length > BUILD_MARKER_FOLDER_NAME_LIMIT ||
        size != BUILD_MARKER_HEADER_SIZE + 2 * static_cast<size_t>(length) + 4) {
        return BUILD_MARKER_NONE;
    }
    if (read_le32(bytes + size - 4) != libdeflate_crc32(0, bytes, size - 4)) {
        return BUILD_MARKER_NONE;
    }
    view->identity = read_le64(bytes + 8);
    view->folder_name = bytes + BUILD_MARKER_HEADER_SIZE;
    view->folder_name_length = length;
    return BUILD_MARKER_WHOLE;
}

bool build_marker_names_folder(const BuildMarkerView &view, const char16_t *name, size_t length)
{
    if (view.folder_name == NULL || view.folder_name_length != length) {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        if (read_le16(view.folder_name + 2 * i) != static_cast<uint16_t>(name[i])) {
            return false;
        }
    }
    return true;
}

size_t write_build_marker(uint64_t identity, const char16_t *folder_name, size_t length, unsigned char *out,
                          size_t capacity)
{
    if (length == 0 || length > BUILD_MARKER_FOLDER_NAME_LIMIT) {
        return 0;
    }
    const size_t size = BUILD_MARKER_HEADER_SIZE + 2 * length + 4;
    if (size > capacity) {
        return 0;
    }
    memcpy(out, MARKER_MAGIC, sizeof MARKER_MAGIC);
    write_le64(out + 8, identity);
    write_le32(out + 16, static_cast<uint32_t>(length));
    for (size_t i = 0; i < length; i++) {
        write_le16(out + BUILD_MARKER_HEADER_SIZE + 2 * i, static_cast<uint16_t>(folder_name[i]));
    }
    write_le32(out + size - 4, libdeflate_crc32(0, out, size - 4));
    return size;
}
