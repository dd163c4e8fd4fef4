// bench_child.cpp: the application of the benchmarks' packed launchers: it
// exits at once. Started by a launcher (ZOBREL_ONEFILE_PARENT set), it
// prints the launcher's memory counters, which are final by then: the
// launcher has closed its decoder and only waits. Started directly, it
// prints its own: what an empty process costs.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "memory_sampler.h"

int wmain()
{
    wchar_t parent[32];
    if (GetEnvironmentVariableW(L"ZOBREL_ONEFILE_PARENT", parent, 32) == 0) {
        print_memory_counters("", GetCurrentProcess());
        return 0;
    }
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, wcstoul(parent, NULL, 10));
    if (process == NULL) {
        printf("memory=unavailable (error %lu)\n", GetLastError());
        return 0;
    }
    print_memory_counters("", process);
    CloseHandle(process);
    return 0;
}
