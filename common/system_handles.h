// system_handles.h: the Win32 handle types a stage's state holds, named
// without <windows.h>, so that a header declaring only state builds
// anywhere. Each is the very type <windows.h> gives it (HANDLE is a void
// pointer; HWND a pointer to its own opaque struct), so values pass between
// them without a cast.
#ifndef ZOBREL_COMMON_SYSTEM_HANDLES_H
#define ZOBREL_COMMON_SYSTEM_HANDLES_H

typedef void *SystemHandle;

struct HWND__;
typedef HWND__ *WindowHandle;

#endif
