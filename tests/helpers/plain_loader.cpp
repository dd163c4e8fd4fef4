// plain_loader.cpp: loads a DLL by its bare name with the default search,
// as a program that takes no care does: the control that shows a DLL
// planted beside a program is found there first (under Wine: when told to
// prefer a DLL beside the program, as Windows does for DLLs it does not pin).
//
//   plain_loader NAME     exit status 0 when the DLL loaded, 1 when not
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        return 2;
    }
    return LoadLibraryW(argv[1]) != NULL ? 0 : 1;
}
