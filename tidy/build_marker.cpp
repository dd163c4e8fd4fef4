// build_marker.cpp: writes, holds and reads the marker of an unpack directory.
#include "tidy/build_marker.h"

#include <wchar.h>

#include "common/wide_buffer.h"
#include "payload/target_file.h"
#include "archive_name.h"
#include "build_marker_layout.h"

uint64_t product_identity(const BuildInfo &build)
{
    // wchar_t is UTF-16 on Windows.
    return build_marker_identity(reinterpret_cast<const char16_t *>(build.company),
                                 reinterpret_cast<const char16_t *>(build.product));
}

// True when the open file holds exactly the marker of that identity and
// folder name.
static bool holds_marker(HANDLE file, uint64_t identity, const wchar_t *name, size_t length)
{
    // One byte more than the largest marker: a longer file is not one.
    unsigned char found[BUILD_MARKER_CAPACITY + 1];
    DWORD got = 0;
    if (!ReadFile(file, found, sizeof found, &got, /* lpOverlapped */ NULL)) {
        return false;
    }
    BuildMarkerView view;
    return check_build_marker(found, got, &view) == BUILD_MARKER_WHOLE && view.identity == identity &&
           build_marker_names_folder(view, reinterpret_cast<const char16_t *>(name), length);
}

// Writes the marker through a second handle, checked as every write is.
// The holder keeps its own, which shares writing.
static bool write_marker(const LaunchShared *launch, const unsigned char *bytes, DWORD size)
{
    bool existed = false;
    HANDLE writer =
        open_own_file(launch, BUILD_MARKER_NAME, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &existed);
    if (writer == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool whole = empty_target_file(writer) &&
                       WriteFile(writer, bytes, size, &written, /* lpOverlapped */ NULL) && written == size;
    CloseHandle(writer);
    return whole;
}

void hold_build_marker(const LaunchShared *launch, TidyState *tidy)
{
    if (launch->build.keep_builds == 0 || tidy->marker != NULL) {
        return;
    }
    // The folder's own name, as the file system spells it.
    const FinalPath &root = launch->unpack_root;
    size_t start = root.length;
    while (start > 0 && root.text[start - 1] != L'\\') {
        start--;
    }
    const wchar_t *name = root.text + start;
    const size_t length = root.length - start;
    unsigned char bytes[BUILD_MARKER_CAPACITY];
    const size_t size =
        write_build_marker(product_identity(launch->build), reinterpret_cast<const char16_t *>(name), length,
                           bytes, sizeof bytes);
    if (size == 0) {
        return;  // a name no marker holds: the folder stays unmarked, never tidied
    }
    // Read and set its time only: that goes along with another program's
    // look (a read shared for reading). Not inheritable until the child is
    // made (child/launch.h).
    bool existed = false;
    HANDLE marker = open_own_file(launch, BUILD_MARKER_NAME, GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &existed);
    if (marker == INVALID_HANDLE_VALUE) {
        return;
    }
    // New, cut short, another product's, another folder's or the earlier
    // form: this product's and this folder's from now on.
    if (!holds_marker(marker, product_identity(launch->build), name, length) &&
        !write_marker(launch, bytes, static_cast<DWORD>(size))) {
        CloseHandle(marker);
        return;
    }
    // The start time, set explicitly: it is what ranks the folders, and a
    // time set on the handle is not moved again when the handle closes.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(marker, /* lpCreationTime */ NULL, /* lpLastAccessTime */ NULL, &now);
    tidy->marker = marker;
}

// The marker's path and its name relative to the parent's final path
// ("<folder name>\.zobrel-build"); false when they would not fit.
static bool marker_paths(const wchar_t *path, const wchar_t *name, wchar_t *marker, wchar_t *relative)
{
    wchar_t own[sizeof BUILD_MARKER_NAME + 1] = {L'\\'};
    for (size_t i = 0; BUILD_MARKER_NAME[i] != '\0'; i++) {
        own[i + 1] = static_cast<wchar_t>(BUILD_MARKER_NAME[i]);
    }
    marker[0] = L'\0';
    relative[0] = L'\0';
    return append_wide_if_fits(marker, WIDE_PATH_CAPACITY, path) &&
           append_wide_if_fits(marker, WIDE_PATH_CAPACITY, own) &&
           append_wide_if_fits(relative, WIDE_PATH_CAPACITY, name) &&
           append_wide_if_fits(relative, WIDE_PATH_CAPACITY, own);
}

// Opens the folder's marker with that access and sharing, only where it is
// meant to be; INVALID_HANDLE_VALUE otherwise.
static HANDLE open_folder_marker(const wchar_t *path, const FinalPath &parent, const wchar_t *name,
                                 DWORD access, DWORD share)
{
    // Two paths of a wide path buffer each: 16 KiB of stack, which the
    // tidy's thread has.
    wchar_t marker_path[WIDE_PATH_CAPACITY];
    wchar_t relative[WIDE_PATH_CAPACITY];
    if (!marker_paths(path, name, marker_path, relative)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE marker = CreateFileW(marker_path, access, share, /* lpSecurityAttributes */ NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, /* hTemplateFile */ NULL);
    if (marker != INVALID_HANDLE_VALUE && !handle_is_at(marker, parent, relative, wcslen(relative))) {
        CloseHandle(marker);
        return INVALID_HANDLE_VALUE;
    }
    return marker;
}

bool read_folder_marker(const wchar_t *path, const FinalPath &parent, const wchar_t *name, uint64_t identity,
                        FILETIME *started)
{
    // Full sharing: a look that never stands in the way of a start.
    HANDLE marker = open_folder_marker(path, parent, name, GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (marker == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ours = holds_marker(marker, identity, name, wcslen(name)) &&
                GetFileTime(marker, /* lpCreationTime */ NULL, /* lpLastAccessTime */ NULL, started);
    CloseHandle(marker);
    return ours;
}

bool build_marker_free(const wchar_t *path, const FinalPath &parent, const wchar_t *name, uint64_t identity)
{
    // Shared with nobody, and asking for deletion: fails with a sharing
    // violation while any start, or its program, holds the marker.
    HANDLE marker = open_folder_marker(path, parent, name, GENERIC_READ | DELETE, /* dwShareMode */ 0);
    if (marker == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ours = holds_marker(marker, identity, name, wcslen(name));
    CloseHandle(marker);
    return ours;
}
