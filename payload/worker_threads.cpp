// worker_threads.cpp: a worker function on the calling thread and a few helpers.
#include "payload/worker_threads.h"

static const SIZE_T WORKER_STACK = 64 * 1024;

// What a helper thread is started with.
struct HelperStart {
    Worker worker;
    void *work;
    int slot;
};

static DWORD WINAPI run_helper(void *parameter)
{
    const HelperStart *start = static_cast<const HelperStart *>(parameter);
    start->worker(start->work, start->slot);
    return 0;
}

int processor_threads()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD processors = system.dwNumberOfProcessors;
    return processors < 1                    ? 1
           : processors > MAX_WORKER_THREADS ? MAX_WORKER_THREADS
                                             : static_cast<int>(processors);
}

void run_on_threads(int threads, Worker worker, void *work)
{
    HANDLE helpers[MAX_WORKER_THREADS];
    // Read by the helpers until they end, which is before this returns.
    HelperStart starts[MAX_WORKER_THREADS];
    int started = 0;
    for (int slot = 1; slot < threads && slot < MAX_WORKER_THREADS; slot++) {
        starts[slot] = HelperStart{worker, work, slot};
        HANDLE thread = CreateThread(NULL, WORKER_STACK, run_helper, &starts[slot],
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (thread != NULL) {
            helpers[started++] = thread;
        }
    }
    worker(work, 0);
    if (started > 0) {
        WaitForMultipleObjects(static_cast<DWORD>(started), helpers, TRUE, INFINITE);
        for (int t = 0; t < started; t++) {
            CloseHandle(helpers[t]);
        }
    }
}
