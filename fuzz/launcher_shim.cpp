// launcher_shim.cpp: the launcher's early ends that its payload reader calls, as exceptions.
#include "launcher_shim.h"

#include "common/fatal.h"

void fatal_decode_error()
{
    throw LauncherStopped{"Error, couldn't decode attached data."};
}

void fatal_header_error()
{
    throw LauncherStopped{"Error, couldn't find attached data header."};
}

void fatal_memory_error()
{
    throw LauncherStopped{"Error, couldn't allocate memory."};
}
