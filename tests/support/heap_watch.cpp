// heap_watch.cpp: the C heap's wrappers. A fixed table, so that keeping
// count never takes from the heap it watches.
#include "heap_watch.h"

#include <stdlib.h>

namespace {

bool g_watched;
void *g_held[256];
size_t g_held_count;
size_t g_strays;

void took(void *block)
{
    if (block == NULL || !g_watched) return;
    if (g_held_count < sizeof g_held / sizeof g_held[0]) {
        g_held[g_held_count++] = block;
    } else {
        g_strays++;  // more blocks than the table keeps: a fault all the same
    }
}

void gave_back(void *block)
{
    if (block == NULL || !g_watched) return;
    for (size_t i = 0; i < g_held_count; i++) {
        if (g_held[i] == block) {
            g_held[i] = g_held[--g_held_count];
            return;
        }
    }
    g_strays++;
}

}  // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void *__real_realloc(void *block, size_t size);
extern "C" void __real_free(void *block);

extern "C" void *__wrap_malloc(size_t size)
{
    void *block = __real_malloc(size);
    took(block);
    return block;
}

extern "C" void *__wrap_calloc(size_t count, size_t size)
{
    void *block = __real_calloc(count, size);
    took(block);
    return block;
}

extern "C" void *__wrap_realloc(void *block, size_t size)
{
    void *moved = __real_realloc(block, size);
    // A failed realloc leaves the block where it was.
    if (moved != NULL || size == 0) {
        gave_back(block);
        took(moved);
    }
    return moved;
}

extern "C" void __wrap_free(void *block)
{
    gave_back(block);
    __real_free(block);
}

HeapWatch::HeapWatch(bool watched) : saved_(g_watched)
{
    g_watched = watched;
}

HeapWatch::~HeapWatch()
{
    g_watched = saved_;
}

size_t heap_held()
{
    return g_held_count;
}

size_t heap_strays()
{
    return g_strays;
}

void heap_watch_reset()
{
    g_held_count = 0;
    g_strays = 0;
}
