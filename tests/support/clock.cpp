// clock.cpp: seconds on the performance counter.
#include "clock.h"

#include <windows.h>

double now_seconds()
{
    static const double ticks_per_second = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticks_per_second;
}
