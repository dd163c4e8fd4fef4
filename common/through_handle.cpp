// through_handle.cpp: renames and deletes through open handles.
#include "common/through_handle.h"

#include <stddef.h>
#include <wchar.h>

#include "capacities.h"

bool rename_through_handle(HANDLE entry, const wchar_t *new_path, bool replace)
{
    const size_t length = wcslen(new_path);
    if (length >= WIDE_PATH_CAPACITY) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // The name follows the structure's fixed part; on the stack, as the
    // tidy's thread renames while the main thread may write.
    alignas(FILE_RENAME_INFO) unsigned char
        buffer[sizeof(FILE_RENAME_INFO) + WIDE_PATH_CAPACITY * sizeof(wchar_t)];
    FILE_RENAME_INFO *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer);
    ZeroMemory(buffer, sizeof buffer);
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = NULL;
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    wmemcpy(rename->FileName, new_path, length);
    return SetFileInformationByHandle(entry, FileRenameInfo, rename, sizeof buffer) != FALSE;
}

bool delete_through_handle(HANDLE entry)
{
    FILE_DISPOSITION_INFO disposition = {/* DeleteFile */ TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition)) {
        return true;
    }
    const DWORD error = GetLastError();
    FILE_BASIC_INFO basic;
    if (error != ERROR_ACCESS_DENIED ||
        !GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(error);
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    // A file with no attribute left must say so explicitly: 0 means "leave them".
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    // Times of 0 are left as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) &&
           SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
}
