// build_marker.cpp: fuzzes the build marker's reader (check_build_marker),
// which every tidy runs on the marker of each folder beside its own, and
// the one writer against it.
//
// Input: the marker's bytes. What the reader accepts lies within them, and
// the writer lays it out again byte for byte; a marker the writer makes of
// the input (its first 8 bytes as the identity, the rest as the name) reads
// back as what was written.
#include <string.h>

#include <vector>

#include "build_marker_layout.h"
#include "fuzz_target.h"
#include "little_endian.h"

static void check_accepted(const uint8_t *data, size_t size)
{
    BuildMarkerView view;
    const BuildMarkerForm form = check_build_marker(data, size, &view);
    if (form == BUILD_MARKER_NONE) {
        FUZZ_CHECK(view.identity == 0 && view.folder_name == NULL && view.folder_name_length == 0);
        return;
    }
    FUZZ_CHECK(view.identity == read_le64(data + 8));
    if (form == BUILD_MARKER_EARLIER) {
        FUZZ_CHECK(size == EARLIER_BUILD_MARKER_SIZE && view.folder_name == NULL);
        return;
    }
    FUZZ_CHECK(view.folder_name_length >= 1 && view.folder_name_length <= BUILD_MARKER_FOLDER_NAME_LIMIT);
    FUZZ_CHECK(view.folder_name == data + BUILD_MARKER_HEADER_SIZE);
    FUZZ_CHECK(size == BUILD_MARKER_HEADER_SIZE + 2 * size_t{view.folder_name_length} + 4);
    std::vector<char16_t> name(view.folder_name_length);
    for (size_t i = 0; i < name.size(); i++) {
        name[i] = static_cast<char16_t>(read_le16(view.folder_name + 2 * i));
    }
    FUZZ_CHECK(build_marker_names_folder(view, name.data(), name.size()));
    unsigned char again[BUILD_MARKER_CAPACITY];
    const size_t written = write_build_marker(view.identity, name.data(), name.size(), again, sizeof again);
    FUZZ_CHECK(written == size && memcmp(again, data, size) == 0);
}

static void check_written(const uint8_t *data, size_t size)
{
    if (size < 8) {
        return;
    }
    const uint64_t identity = read_le64(data);
    std::vector<char16_t> name((size - 8) / 2);
    for (size_t i = 0; i < name.size(); i++) {
        name[i] = static_cast<char16_t>(read_le16(data + 8 + 2 * i));
    }
    unsigned char marker[BUILD_MARKER_CAPACITY];
    const size_t written = write_build_marker(identity, name.data(), name.size(), marker, sizeof marker);
    if (name.empty() || name.size() > BUILD_MARKER_FOLDER_NAME_LIMIT) {
        FUZZ_CHECK(written == 0);
        return;
    }
    FUZZ_CHECK(written == BUILD_MARKER_HEADER_SIZE + 2 * name.size() + 4);
    BuildMarkerView view;
    FUZZ_CHECK(check_build_marker(marker, written, &view) == BUILD_MARKER_WHOLE);
    FUZZ_CHECK(view.identity == identity && build_marker_names_folder(view, name.data(), name.size()));
    // One unit more or less is another folder.
    FUZZ_CHECK(!build_marker_names_folder(view, name.data(), name.size() - 1));
    // Any one byte changed is no marker, or another identity or name.
    for (size_t at = 0; at < written; at++) {
        marker[at] ^= 0x20;
        BuildMarkerView changed;
        FUZZ_CHECK(check_build_marker(marker, written, &changed) != BUILD_MARKER_WHOLE);
        marker[at] ^= 0x20;
    }
    FUZZ_CHECK(check_build_marker(marker, written - 1, &view) == BUILD_MARKER_NONE);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_accepted(data, size);
    check_written(data, size);
    return 0;
}
