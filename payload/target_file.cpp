// target_file.cpp: opens files of the unpack directory for writing, never through a link.
#include "payload/target_file.h"

#include <wchar.h>

#include "common/final_path.h"
#include "common/wide_buffer.h"
#include "payload/brief_hold.h"
#include "pathspec/paths.h"

HANDLE open_target_file(const LaunchShared *launch, const wchar_t *path, const wchar_t *relative,
                        size_t length, DWORD access, DWORD share, bool *existed)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    BriefHoldWait wait = {0};
    do {
        // CREATE_NEW never follows a link: any entry of that name, a
        // dangling or looping link too, makes it fail as existing.
        file = CreateFileW(path, access, share, /* lpSecurityAttributes */ NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL,
                           /* hTemplateFile */ NULL);
        *existed = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
        if (*existed) {
            // Opened as it is, not emptied: what it is is not known yet.
            file = CreateFileW(path, access, share, /* lpSecurityAttributes */ NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, /* hTemplateFile */ NULL);
        }
    } while (file == INVALID_HANDLE_VALUE && wait_out_brief_hold(&wait));
    if (file == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    if (!handle_is_at(file, launch->unpack_root, relative, length)) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE open_own_file(const LaunchShared *launch, const char *name, DWORD access, DWORD share, bool *existed)
{
    wchar_t path[WIDE_PATH_CAPACITY];
    copy_wide(path, WIDE_PATH_CAPACITY, launch->unpack_directory);
    append_wide(path, WIDE_PATH_CAPACITY, L"\\");
    const size_t relative_start = wcslen(path);
    append_narrow_string(path, name, WIDE_PATH_CAPACITY);
    const wchar_t *relative = path + relative_start;
    return open_target_file(launch, path, relative, wcslen(relative), access, share, existed);
}

bool empty_target_file(HANDLE file)
{
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, /* lpNewFilePointer */ NULL, FILE_BEGIN) && SetEndOfFile(file);
}
