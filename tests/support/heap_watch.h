// heap_watch.h: what the code under test takes from the C heap and gives
// back, for a test that links zobrel_heap_watch (which wraps malloc, calloc,
// realloc and free in the whole executable).
//
// While a HeapWatch is alive, every block taken is held until it is given
// back; a block given back that is not held is a stray: a second free, a
// block taken outside the watch, or one the C runtime took by itself
// (_wcsdup and its kind are imported from the runtime, so their taking
// passes the wrappers by). Only blocks are seen, not their sizes, and only
// the C heap: Win32 allocations pass by. Main thread only.
#ifndef ZOBREL_TESTS_SUPPORT_HEAP_WATCH_H
#define ZOBREL_TESTS_SUPPORT_HEAP_WATCH_H

#include <stddef.h>

class HeapWatch {
public:
    // `watched` false steps out of an enclosing watch for the test's own
    // bookkeeping.
    explicit HeapWatch(bool watched = true);
    ~HeapWatch();
    HeapWatch(const HeapWatch &) = delete;
    HeapWatch &operator=(const HeapWatch &) = delete;

private:
    bool saved_;
};

// Blocks taken under a watch and not given back yet.
size_t heap_held();

// Blocks given back under a watch that it did not hold.
size_t heap_strays();

// Forgets what was held and the strays.
void heap_watch_reset();

#endif
