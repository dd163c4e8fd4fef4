// system_library.cpp: the launcher's DLL search and its loads from the system folder.
#include "common/system_library.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);

void restrict_dll_search_to_system_folder()
{
    // Looked up, not imported: an image that imports it does not start on a
    // Windows 7 that lacks it. kernel32 is pinned and already loaded.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    SetDefaultDllDirectoriesFunction set_default_directories =
        kernel32 != NULL ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                               reinterpret_cast<void *>(GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                         : NULL;
    if (set_default_directories != NULL && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    // An empty string (not null) takes the current directory out of the search.
    SetDllDirectoryW(L"");
}

HMODULE system_library(const wchar_t *library)
{
    // LOAD_LIBRARY_SEARCH_SYSTEM32 applies to the DLL's own imports as well,
    // so nothing it pulls in comes from the launcher's folder either. The
    // system keeps one reference per load, so a second call costs a lookup.
    return LoadLibraryExW(library, /* hFile */ NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC system_function(const wchar_t *library, const char *function)
{
    HMODULE module = system_library(library);
    if (module == NULL) {
        return NULL;
    }
    return GetProcAddress(module, function);
}
