// worker_threads.h: one worker function run side by side on a few threads,
// for checks that take their work from a shared counter.
#ifndef ZOBREL_PAYLOAD_WORKER_THREADS_H
#define ZOBREL_PAYLOAD_WORKER_THREADS_H

#include <windows.h>

// The most threads run_on_threads runs, the caller's included.
static const int MAX_WORKER_THREADS = 4;

// A worker: the work shared by every thread, and the thread's slot (0 for
// the calling thread, 1 and up for helpers), for what each thread holds alone.
typedef void (*Worker)(void *work, int slot);

// One per processor, at most MAX_WORKER_THREADS.
int processor_threads();

// Runs worker(work, slot) on `threads` threads at once (1 to
// MAX_WORKER_THREADS): the calling thread as slot 0 and helpers as slots 1
// and up, each helper with a small stack (a worker holds a path buffer, not
// much more). Returns when all have returned. A helper that cannot be made
// leaves its share to the others, so the worker must take its work from a
// shared counter.
void run_on_threads(int threads, Worker worker, void *work);

#endif
