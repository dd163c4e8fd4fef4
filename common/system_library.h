// system_library.h: where the launcher's own DLLs come from. A packed
// executable usually runs from a folder anyone can write to (Downloads, a
// share, a USB stick), and Windows looks for a DLL that is not one of its
// pinned "known DLLs" in the program's own folder first: a DLL planted there
// under a system DLL's name would run inside the launcher. So the launcher
// imports statically only what Windows pins (kernel32 and the C runtime),
// searches the system folder alone for everything else, and loads what else
// it needs at the point of use, from the system folder.
//
// The image's load configuration could ask the loader to search the system
// folder for the static imports too (DependentLoadFlags); the GNU linker
// used here does not write that directory, and the static imports are
// pinned DLLs only, which the loader takes from the system folder anyway.
//
// The child is not affected: it is a new process whose own folder (the
// unpack directory) is meant to be searched for the application's DLLs.
#ifndef ZOBREL_COMMON_SYSTEM_LIBRARY_H
#define ZOBREL_COMMON_SYSTEM_LIBRARY_H

#include <windows.h>

// Call first thing: from now on the process's own DLL loads (and theirs)
// search the system folder only (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32). On a system without that call (Windows 7
// without its 2011 update) the current directory is at least taken out of
// the search (SetDllDirectoryW with an empty string). Failures leave the
// default order, which is no reason to stop the launch.
void restrict_dll_search_to_system_folder();

// The system DLL of that name (such as L"shell32.dll"), loaded from the
// system folder with its own dependencies searched there too
// (LOAD_LIBRARY_SEARCH_SYSTEM32); it stays loaded until the process ends.
// Null when it cannot be had.
HMODULE system_library(const wchar_t *library);

// The function of that name in system_library(library); null when either
// cannot be had. For one function of a DLL: for many, look them up in the
// module system_library gives.
FARPROC system_function(const wchar_t *library, const char *function);

#endif
