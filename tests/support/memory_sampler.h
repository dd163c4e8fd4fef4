// memory_sampler.h: the peak private memory of a running process, sampled
// every millisecond on a thread of its own. Windows keeps a true peak in
// PeakPagefileUsage, but Wine reports the current anonymous memory there,
// so the peak is taken by sampling PagefileUsage.
#ifndef ZOBREL_TESTS_SUPPORT_MEMORY_SAMPLER_H
#define ZOBREL_TESTS_SUPPORT_MEMORY_SAMPLER_H

#include <windows.h>

class MemorySampler {
public:
    // Starts sampling the process (a handle with query rights, or
    // GetCurrentProcess()); the handle must stay open until stop().
    explicit MemorySampler(HANDLE process);
    ~MemorySampler();
    MemorySampler(const MemorySampler &) = delete;
    MemorySampler &operator=(const MemorySampler &) = delete;

    // Stops sampling and returns the highest PagefileUsage seen, in bytes.
    // Later calls return the same.
    unsigned long long stop();

private:
    static DWORD WINAPI sample(void *self);
    HANDLE process_;
    HANDLE stop_;
    HANDLE thread_;
    unsigned long long peak_ = 0;
};

// The process's PeakPagefileUsage and PeakWorkingSetSize, in bytes, as
// key=value lines ("peak_pagefile=...", "peak_working_set=...") after the
// prefix, or "memory=unavailable (error N)".
void print_memory_counters(const char *prefix, HANDLE process);

#endif
