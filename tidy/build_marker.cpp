// build_marker.cpp: writes, holds and reads the marker of an unpack directory.
#include "tidy/build_marker.h"

#include <string.h>

#include "common/wide_buffer.h"
#include "payload/directories.h"
#include "archive_name.h"
#include "little_endian.h"

static const unsigned char MARKER_MAGIC[8] = {'Z', 'O', 'B', 'B', 'U', 'I', 'L', 'D'};

uint64_t product_identity(const BuildInfo &build)
{
    uint64_t hash = 14695981039346656037ull;
    const wchar_t *parts[2] = {build.company, build.product};
    for (int part = 0; part < 2; part++) {
        for (const wchar_t *unit = parts[part]; *unit != L'\0'; unit++) {
            hash = (hash ^ static_cast<uint16_t>(*unit)) * 1099511628211ull;
        }
        // The 0 unit between them: "ab" + "c" is not "a" + "bc".
        hash = hash * 1099511628211ull;
    }
    return hash;
}

static void marker_bytes(uint64_t identity, unsigned char bytes[BUILD_MARKER_SIZE])
{
    memcpy(bytes, MARKER_MAGIC, sizeof MARKER_MAGIC);
    write_le64(bytes + sizeof MARKER_MAGIC, identity);
}

// The folder's marker path into path (WIDE_PATH_CAPACITY units); false when
// it would not fit.
static bool marker_path(const wchar_t *folder, wchar_t *path)
{
    wchar_t name[sizeof BUILD_MARKER_NAME + 1] = {L'\\'};
    for (size_t i = 0; BUILD_MARKER_NAME[i] != '\0'; i++) {
        name[i + 1] = static_cast<wchar_t>(BUILD_MARKER_NAME[i]);
    }
    path[0] = L'\0';
    return append_wide_if_fits(path, WIDE_PATH_CAPACITY, folder) &&
           append_wide_if_fits(path, WIDE_PATH_CAPACITY, name);
}

// True when the open file holds exactly the marker of that identity.
static bool holds_marker(HANDLE file, uint64_t identity)
{
    unsigned char expected[BUILD_MARKER_SIZE];
    marker_bytes(identity, expected);
    // One byte more than a marker: a longer file is not one.
    unsigned char found[BUILD_MARKER_SIZE + 1];
    DWORD got = 0;
    return ReadFile(file, found, sizeof found, &got, /* lpOverlapped */ NULL) && got == BUILD_MARKER_SIZE &&
           memcmp(found, expected, BUILD_MARKER_SIZE) == 0;
}

// The marker of a start holding it: read and write for itself, shared for
// reading and writing with the other starts of the same folder, never for
// deleting (below). Not inheritable: the child does not get it.
static HANDLE open_marker_to_hold(const wchar_t *path)
{
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       /* lpSecurityAttributes */ NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       /* hTemplateFile */ NULL);
}

void hold_build_marker(LaunchContext *context)
{
    if (context->build.keep_builds == 0 || context->tidy.marker != NULL) {
        return;
    }
    wchar_t path[WIDE_PATH_CAPACITY];
    if (!marker_path(context->unpack_directory, path)) {
        return;
    }
    HANDLE marker = open_marker_to_hold(path);
    if (marker == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // A first start: the folder is made here, as the unpack would make it
        // for its first file, so a start killed while unpacking still leaves a
        // marked folder that a later tidy clears.
        if (!failed(seed_directory_memo(context)) && ensure_parent_directories(&context->directories, path)) {
            marker = open_marker_to_hold(path);
        }
    }
    if (marker == INVALID_HANDLE_VALUE) {
        return;
    }
    const uint64_t identity = product_identity(context->build);
    if (!holds_marker(marker, identity)) {
        // New, cut short or another product's: this product's from now on.
        unsigned char bytes[BUILD_MARKER_SIZE];
        marker_bytes(identity, bytes);
        DWORD written = 0;
        if (SetFilePointer(marker, 0, /* lpDistanceToMoveHigh */ NULL, FILE_BEGIN) != 0 ||
            !WriteFile(marker, bytes, BUILD_MARKER_SIZE, &written, /* lpOverlapped */ NULL) ||
            written != BUILD_MARKER_SIZE || !SetEndOfFile(marker)) {
            CloseHandle(marker);
            return;
        }
    }
    // The start time, set explicitly: it is what ranks the folders, and a
    // time set on the handle is not moved again when the handle closes.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(marker, /* lpCreationTime */ NULL, /* lpLastAccessTime */ NULL, &now);
    context->tidy.marker = marker;
}

bool read_build_marker(const wchar_t *folder, uint64_t identity, FILETIME *started)
{
    wchar_t path[WIDE_PATH_CAPACITY];
    if (!marker_path(folder, path)) {
        return false;
    }
    // Full sharing: a look that never stands in the way of a start.
    HANDLE marker = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                /* hTemplateFile */ NULL);
    if (marker == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ours = holds_marker(marker, identity) &&
                GetFileTime(marker, /* lpCreationTime */ NULL, /* lpLastAccessTime */ NULL, started);
    CloseHandle(marker);
    return ours;
}

bool build_marker_free(const wchar_t *folder, uint64_t identity)
{
    wchar_t path[WIDE_PATH_CAPACITY];
    if (!marker_path(folder, path)) {
        return false;
    }
    // Shared with nobody, and asking for deletion: fails with a sharing
    // violation while any start holds the marker.
    HANDLE marker = CreateFileW(path, GENERIC_READ | DELETE, /* dwShareMode */ 0,
                                /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                /* hTemplateFile */ NULL);
    if (marker == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ours = holds_marker(marker, identity);
    CloseHandle(marker);
    return ours;
}
