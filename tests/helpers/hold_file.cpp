// hold_file.cpp: holds a file open without sharing it, as an antivirus
// scanner, an indexer or a backup agent holds a freshly written file, for a
// while, from a process of its own.
//
//   hold_file PATH MILLISECONDS READY
//
// Opens PATH (which must exist) for reading with no sharing at all, creates
// the file READY once it holds it, keeps it for MILLISECONDS, then closes it
// and exits 0. Exits 3 when PATH cannot be opened, 100 on a usage error.
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) return 100;
    // dwShareMode 0: every other open of the file fails with a sharing
    // violation while this handle is open, reading included.
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, /* dwShareMode */ 0, /* lpSecurityAttributes */ NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /* hTemplateFile */ NULL);
    if (held == INVALID_HANDLE_VALUE) return 3;
    HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(ready);
    Sleep(wcstoul(argv[2], NULL, 10));
    CloseHandle(held);
    return 0;
}
