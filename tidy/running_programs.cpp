// running_programs.cpp: looks for a running process whose image lies in a folder.
#include "tidy/running_programs.h"

#include <tlhelp32.h>
#include <wchar.h>

#include "common/wide_buffer.h"

// The path without what tells its form: "\\?\UNC\" or "\\" before a
// share, "\\?\" before a drive (image paths come without the "\\?\").
static const wchar_t *bare(const wchar_t *path)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        return path + 8;
    }
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        return path + 4;
    }
    return wcsncmp(path, L"\\\\", 2) == 0 ? path + 2 : path;
}

// True when `image` names a file under `folder`, both full paths.
static bool lies_under(const wchar_t *image, const wchar_t *folder)
{
    image = bare(image);
    folder = bare(folder);
    const size_t length = length_without_trailing_backslashes(folder, wcslen(folder));
    return length > 0 && wcslen(image) > length && image[length] == L'\\' &&
           CompareStringOrdinal(image, static_cast<int>(length), folder, static_cast<int>(length),
                                /* bIgnoreCase */ TRUE) == CSTR_EQUAL;
}

bool program_runs_from(const wchar_t *folder)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /* th32ProcessID: all */ 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return true;
    }
    const DWORD self = GetCurrentProcessId();
    bool found = false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0) {
            continue;
        }
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, /* bInheritHandle */ FALSE, entry.th32ProcessID);
        if (process == NULL) {
            continue;
        }
        // Image paths are full Win32 paths; one longer than this buffer lies
        // in no unpack folder the launcher could have made.
        wchar_t image[WIDE_PATH_CAPACITY];
        DWORD size = WIDE_PATH_CAPACITY;
        if (QueryFullProcessImageNameW(process, /* dwFlags: a Win32 path */ 0, image, &size)) {
            DWORD code = 0;
            // A process that has ended but is still referenced no longer runs.
            found = lies_under(image, folder) && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}
