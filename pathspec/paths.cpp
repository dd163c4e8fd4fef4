// paths.cpp: per-user folders, narrow text, absolute and short paths.
#include "pathspec/paths.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/platform.h"
#include "common/system_library.h"
#include "common/wide_buffer.h"

typedef HRESULT(WINAPI *ShGetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

bool append_known_folder(wchar_t *buffer, int folder_id, size_t capacity)
{
    // The shell and what it pulls in are loaded here, from the system folder
    // only: imported, they would be looked for beside the launcher first.
    ShGetFolderPathFunction get_folder_path = reinterpret_cast<ShGetFolderPathFunction>(
        reinterpret_cast<void *>(system_function(L"shell32.dll", "SHGetFolderPathW")));
    if (get_folder_path == NULL) {
        return false;
    }
    wchar_t folder[MAX_PATH];
    HRESULT result =
        get_folder_path(/* hwnd */ NULL, folder_id, /* hToken */ NULL, SHGFP_TYPE_CURRENT, folder);
    if (result != S_OK) {
        return false;
    }
    append_wide(buffer, capacity, folder);
    return true;
}

// The runtime's multibyte conversion of one character must give exactly one unit.
static wchar_t widen_character(char character)
{
    char narrow[2] = {character, '\0'};
    wchar_t wide[2] = {L'\0', L'\0'};
    if (mbstowcs(wide, narrow, 2) != 1) {
        terminate_abnormally();
    }
    return wide[0];
}

void append_narrow_string(wchar_t *buffer, const char *text, size_t capacity)
{
    size_t length = bounded_wide_length(buffer, capacity);
    for (const char *p = text; *p != '\0'; p++) {
        append_wide_unit(buffer, capacity, &length, widen_character(*p));
    }
}

// Windows takes a forward slash for a backslash wherever a path names a
// folder: C:/Users/x/Temp is as absolute as C:\Users\x\Temp.
static bool is_separator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

bool is_absolute_path(const wchar_t *path)
{
    if (is_separator(path[0])) {
        return is_separator(path[1]);
    }
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    return letter && path[1] == L':' && is_separator(path[2]);
}

void make_full_path(wchar_t *buffer, size_t capacity)
{
    wchar_t full[WIDE_PATH_CAPACITY];
    if (capacity > WIDE_PATH_CAPACITY) {
        terminate_abnormally();
    }
    DWORD length = GetFullPathNameW(buffer, static_cast<DWORD>(capacity), full, /* lpFilePart */ NULL);
    // 0 is failure (an empty path among them); capacity or more means it did not fit.
    if (length == 0 || length >= capacity) {
        terminate_abnormally();
    }
    copy_wide(buffer, capacity, full);
}

void shorten_directory_part(wchar_t *buffer, size_t capacity)
{
    size_t length = bounded_wide_length(buffer, capacity);
    wchar_t *component = NULL;
    for (size_t i = length; i > 0; i--) {
        if (buffer[i - 1] == L'\\') {
            component = _wcsdup(buffer + i);
            if (component == NULL) {
                terminate_abnormally();
            }
            buffer[i - 1] = L'\0';
            break;
        }
    }

    DWORD needed = GetShortPathNameW(buffer, /* lpszShortPath */ NULL, 0);
    if (needed != 0) {
        wchar_t *short_form =
            static_cast<wchar_t *>(malloc((static_cast<size_t>(needed) + 1) * sizeof(wchar_t)));
        if (short_form == NULL) {
            terminate_abnormally();
        }
        DWORD written = GetShortPathNameW(buffer, short_form, needed);
        if (written > needed) {
            terminate_abnormally();
        }
        // A second query that fails keeps the long form: the buffer only ever
        // receives text the platform wrote, NUL included.
        if (written != 0 && written < needed) {
            copy_wide(buffer, capacity, short_form);
        }
        free(short_form);
    }

    if (component != NULL) {
        append_wide(buffer, capacity, L"\\");
        append_wide(buffer, capacity, component);
        free(component);
    }
}
