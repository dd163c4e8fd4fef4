// greeter.cpp: a DLL the example application loads from its own folder.
#define GREETER_BUILD
#include "greeter.h"

extern "C" GREETER_API const wchar_t *greeter_banner()
{
    return L"vexor demo: running from the unpacked folder";
}
