// entry.cpp: the launcher executable's wide-character entry point.
#include "launcher/main_sequence.h"

// The runtime has already set up the heap and the standard streams (text
// mode) and split the command line without wildcard expansion; its normal
// exit then ends the process with the returned value, all 32 bits of it.
int wmain(int argc, wchar_t **argv, wchar_t **envp)
{
    return launcher_main(argc, argv, envp);
}
