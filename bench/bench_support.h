// bench_support.h: clock and file mapping shared by the benchmark programs.
#ifndef ZOBREL_BENCH_SUPPORT_H
#define ZOBREL_BENCH_SUPPORT_H

#include <string>

// Seconds on the performance counter.
double now_seconds();

struct Mapped {
    const unsigned char *data = nullptr;  // null when the file cannot be mapped
    unsigned long long size = 0;
};

// Maps the whole file read-only; the handles stay open for the process.
Mapped map_file(const std::wstring &path);

#endif
