// child_handle.cpp: the use count that lets the child's handle be closed once.
#include "child/child_handle.h"

HANDLE volatile g_child_process;
static LONG volatile g_child_uses;

void publish_child_handle(HANDLE process)
{
    InterlockedExchangePointer(const_cast<PVOID volatile *>(&g_child_process), process);
    InterlockedExchange(&g_child_uses, 1);
}

HANDLE acquire_child_handle()
{
    for (;;) {
        LONG uses = g_child_uses;
        if (uses <= 0) {
            return NULL;
        }
        // Counts up only from the value just seen, so never from zero.
        if (InterlockedCompareExchange(&g_child_uses, uses + 1, uses) == uses) {
            return g_child_process;
        }
    }
}

void release_child_handle()
{
    if (InterlockedDecrement(&g_child_uses) == 0) {
        HANDLE process = InterlockedExchangePointer(const_cast<PVOID volatile *>(&g_child_process), NULL);
        if (process != NULL) {
            CloseHandle(process);
        }
    }
}
