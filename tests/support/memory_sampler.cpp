// memory_sampler.cpp: samples a process's private memory on a thread of its own.
#include "memory_sampler.h"

#include <psapi.h>
#include <stdio.h>

MemorySampler::MemorySampler(HANDLE process) : process_(process)
{
    stop_ = CreateEventW(NULL, TRUE, FALSE, NULL);
    thread_ = CreateThread(NULL, 0, sample, this, 0, NULL);
}

MemorySampler::~MemorySampler()
{
    stop();
    CloseHandle(stop_);
}

DWORD WINAPI MemorySampler::sample(void *self)
{
    MemorySampler *sampler = static_cast<MemorySampler *>(self);
    do {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(sampler->process_, &counters, sizeof counters) &&
            counters.PagefileUsage > sampler->peak_) {
            sampler->peak_ = counters.PagefileUsage;
        }
    } while (WaitForSingleObject(sampler->stop_, 1) == WAIT_TIMEOUT);
    return 0;
}

unsigned long long MemorySampler::stop()
{
    if (thread_ != NULL) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = NULL;
    }
    return peak_;
}

void print_memory_counters(const char *prefix, HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) {
        printf("%smemory=unavailable (error %lu)\n", prefix, GetLastError());
        return;
    }
    printf("%speak_pagefile=%llu\n", prefix, static_cast<unsigned long long>(counters.PeakPagefileUsage));
    printf("%speak_working_set=%llu\n", prefix, static_cast<unsigned long long>(counters.PeakWorkingSetSize));
}
