// final_path.cpp: resolves open handles to their final paths and checks them against the path meant.
#include "common/final_path.h"

#include <wchar.h>

#include "common/system_library.h"
#include "common/wide_buffer.h"

// The object's name as ntdll gives it (OBJECT_NAME_INFORMATION: a counted
// string, then its units).
struct ObjectName {
    USHORT length;
    USHORT maximum_length;
    wchar_t *buffer;
};

typedef LONG(WINAPI *NtQueryObjectFunction)(HANDLE, int, void *, ULONG, ULONG *);

static const int OBJECT_NAME_INFORMATION_CLASS = 1;

// Wine's GetFinalPathNameByHandleW answers from a buffer of MAX_PATH units
// and fails with ERROR_MORE_DATA for any longer path, whatever the caller's
// buffer; it is made of the handle's object name ("\??\C:\..."), which
// ntdll gives whole. This asks for that name and makes of it what the call
// would: "\\?\C:\...". Windows gives the whole path itself.
static DWORD long_dos_final_path(HANDLE handle, wchar_t *path, size_t capacity)
{
    NtQueryObjectFunction query = reinterpret_cast<NtQueryObjectFunction>(
        reinterpret_cast<void *>(system_function(L"ntdll.dll", "NtQueryObject")));
    // An object name is at most 32,767 units: on the stack of whichever thread asks.
    alignas(ObjectName) unsigned char name[sizeof(ObjectName) + 65536];
    ULONG got = 0;
    if (query == NULL || query(handle, OBJECT_NAME_INFORMATION_CLASS, name, sizeof name, &got) != 0) {
        return 0;
    }
    const ObjectName *object = reinterpret_cast<const ObjectName *>(name);
    const size_t units = object->length / sizeof(wchar_t);
    if (units < 4 || wcsncmp(object->buffer, L"\\??\\", 4) != 0 || units >= capacity) {
        return 0;
    }
    wmemcpy(path, L"\\\\?\\", 4);
    wmemcpy(path + 4, object->buffer + 4, units - 4);
    path[units] = L'\0';
    return static_cast<DWORD>(units);
}

static bool final_path_in_form(HANDLE handle, DWORD form, FinalPath *path)
{
    DWORD length = GetFinalPathNameByHandleW(handle, path->text, static_cast<DWORD>(FINAL_PATH_CAPACITY),
                                             FILE_NAME_NORMALIZED | form);
    if (length == 0 && form == VOLUME_NAME_DOS && GetLastError() == ERROR_MORE_DATA) {
        length = long_dos_final_path(handle, path->text, FINAL_PATH_CAPACITY);
        if (length == 0) {
            SetLastError(ERROR_MORE_DATA);
        }
    }
    // 0 is failure; the capacity or more is the size it would need.
    if (length == 0 || length >= FINAL_PATH_CAPACITY) {
        if (length != 0) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
        return false;
    }
    // A drive's root comes back as "\\?\C:\": its entries add their own.
    path->length = trim_trailing_backslashes(path->text, length);
    path->form = form;
    return true;
}

bool resolve_final_path(HANDLE handle, FinalPath *path)
{
    return final_path_in_form(handle, VOLUME_NAME_DOS, path) ||
           final_path_in_form(handle, VOLUME_NAME_NT, path);
}

static bool same_names(const wchar_t *a, const wchar_t *b, size_t length)
{
    return length == 0 || CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length),
                                               /* bIgnoreCase */ TRUE) == CSTR_EQUAL;
}

bool handle_is_at(HANDLE handle, const FinalPath &root, const wchar_t *relative, size_t length)
{
    FinalPath found;
    if (!final_path_in_form(handle, root.form, &found)) {
        return false;
    }
    if (length == 0) {
        return found.length == root.length && same_names(found.text, root.text, root.length);
    }
    return found.length == root.length + 1 + length && same_names(found.text, root.text, root.length) &&
           found.text[root.length] == L'\\' && same_names(found.text + root.length + 1, relative, length);
}

HANDLE open_entry(const wchar_t *path, DWORD access)
{
    // Full sharing: a look that never stands in anyone's way. Backup
    // semantics opens folders; the reparse flag opens a link as itself.
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       /* lpSecurityAttributes */ NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, /* hTemplateFile */ NULL);
}

HANDLE open_folder_at(const wchar_t *path, const FinalPath &root, const wchar_t *relative, size_t length,
                      DWORD access)
{
    HANDLE folder = open_entry(path, access | FILE_READ_ATTRIBUTES);
    if (folder == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    // The attributes alone: the whole of GetFileInformationByHandle asks
    // the volume too, which under Wine costs a round trip to its mount
    // manager.
    FILE_BASIC_INFO about;
    const bool real_folder = GetFileInformationByHandleEx(folder, FileBasicInfo, &about, sizeof about) &&
                             (about.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             !(about.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!real_folder || !handle_is_at(folder, root, relative, length)) {
        CloseHandle(folder);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}
