// arm64_windowed.cpp: an ARM64 program of the Windows (GUI) subsystem that
// exits with the code it is told ("--exit=HEX" among its arguments), for the
// windowed launcher's tests under ARM64 Wine. It shows no window.
#include <windows.h>

#include "test_output.h"

int wmain(int argc, wchar_t **argv)
{
    uint32_t code = 0;
    for (int i = 1; i < argc; i++) parse_exit_argument(argv[i], &code);
    return static_cast<int>(code);
}
