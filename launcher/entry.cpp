// entry.cpp: the launcher executable's wide-character entry point, for both
// prebuilt launchers: the windowed one is this file compiled with
// ZOBREL_WINDOWED_LAUNCHER and linked for the Windows subsystem.
#include "launcher/main_sequence.h"

#if defined(ZOBREL_WINDOWED_LAUNCHER)
static const LauncherKind LAUNCHER = LAUNCHER_WINDOWED;
#else
static const LauncherKind LAUNCHER = LAUNCHER_CONSOLE;
#endif

// The runtime has already set up the heap and the standard streams (text
// mode) and split the command line without wildcard expansion; its normal
// exit then ends the process with the returned value, all 32 bits of it.
int wmain(int argc, wchar_t **argv, wchar_t **envp)
{
    return launcher_main(argc, argv, envp, LAUNCHER);
}
