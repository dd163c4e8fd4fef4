// launch_shared.cpp: empties the shared part of a launch and reads the process's facts into it.
#include "common/launch_shared.h"

#include <string.h>

void init_launch_shared(LaunchShared *shared, const wchar_t *argv0)
{
    memset(shared, 0, sizeof *shared);
    ProcessFacts *facts = &shared->process;
    DWORD length = GetModuleFileNameW(/* hModule: the launcher itself */ NULL, facts->own_path,
                                      static_cast<DWORD>(LAUNCHER_PATH_CAPACITY));
    // 0 is failure; the capacity or more means the platform had to cut it.
    facts->own_path_known = length != 0 && length < LAUNCHER_PATH_CAPACITY;
    if (!facts->own_path_known) {
        facts->own_path[0] = L'\0';
    }
    facts->argv0 = argv0;
}
