// bench_support.cpp: clock and file mapping shared by the benchmark programs.
#include "bench_support.h"

#include <windows.h>

double now_seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Mapped map_file(const std::wstring &path)
{
    Mapped m;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return m;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    if (mapping == NULL) return m;
    m.data = static_cast<const unsigned char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    m.size = static_cast<unsigned long long>(size.QuadPart);
    return m;
}
