// interactive_desktop.cpp: asks whether the process's window station is the visible one.
#include "launcher/windowed/interactive_desktop.h"

#include <windows.h>

#include "common/user32.h"

bool desktop_is_interactive()
{
    const User32 *u = user32();
    if (u == NULL) {
        return false;
    }
    HWINSTA station = u->get_process_window_station();
    USEROBJECTFLAGS flags;
    ZeroMemory(&flags, sizeof flags);
    DWORD needed = 0;
    if (station == NULL ||
        !u->get_user_object_information(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}
