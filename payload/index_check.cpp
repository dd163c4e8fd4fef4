// index_check.cpp: the unpack directory against the record index, before decoding.
#include "payload/index_check.h"

#include <windows.h>
#include <stdlib.h>

#include "common/build_info.h"
#include "common/platform.h"
#include "common/state.h"
#include "common/wide_buffer.h"
#include "payload/file_checksum.h"
#include "payload/worker_threads.h"
#include "build_constants.h"
#include "little_endian.h"

// Where each record starts in the index, and what the check found for it.
// Heap arrays made once, one entry per record; each entry of the states is
// written by one thread only and read after all have been joined.
static const unsigned char **g_records;
static unsigned char *g_states;
static bool g_bookkeeping_failed;
static LONG volatile g_next_record;
static LONG volatile g_found_difference;

// One read buffer per thread, taken from the system for the check and given
// back to it (not to the heap, which would keep it) before anything is
// decoded, so that a cold start's peak memory (the decoder's) does not grow.
static unsigned char *g_read_buffers[MAX_WORKER_THREADS];

static bool index_usable()
{
    return g_build_info.record_index != NULL && g_build_info.record_count > 0 && !g_bookkeeping_failed;
}

// Target path of record: the unpack directory, a backslash, its name.
void record_target(const IndexRecord &record, wchar_t *target)
{
    copy_wide(target, WIDE_PATH_CAPACITY, g_unpack_directory);
    size_t length = bounded_wide_length(target, WIDE_PATH_CAPACITY);
    append_wide_unit(target, WIDE_PATH_CAPACITY, &length, L'\\');
    for (uint32_t u = 0; u < record.name_length; u++) {
        append_wide_unit(target, WIDE_PATH_CAPACITY, &length,
                         static_cast<wchar_t>(read_le16(record.name + 2 * u)));
    }
}

// Checks one record's file and notes what it found; false when it differs.
static bool check_record(LONG i, unsigned char *buffer)
{
    wchar_t target[WIDE_PATH_CAPACITY];
    IndexRecord record;
    next_index_record(g_records[i], &record);
    record_target(record, target);
    if (file_matches(target, record.size, record.stored_checksum, buffer, FILE_CHECK_READ_SIZE)) {
        g_states[i] = RECORD_MATCHES;
        return true;
    }
    g_states[i] = RECORD_DIFFERS;
    InterlockedExchange(&g_found_difference, 1);
    return false;
}

// Takes records off the shared counter until there are none, or one differs.
static DWORD WINAPI check_records(void *slot)
{
    unsigned char *buffer = g_read_buffers[reinterpret_cast<size_t>(slot)];
    for (;;) {
        if (g_found_difference) {
            return 0;
        }
        LONG i = InterlockedIncrement(&g_next_record) - 1;
        if (static_cast<unsigned long>(i) >= g_build_info.record_count) {
            return 0;
        }
        check_record(i, buffer);
    }
}

// Made once. Without memory for it the index is not used at all: the
// unpacker then works as without one.
static bool make_bookkeeping()
{
    if (g_records != NULL) {
        return true;
    }
    unsigned long count = g_build_info.record_count;
    g_records = static_cast<const unsigned char **>(malloc(count * sizeof *g_records));
    g_states = static_cast<unsigned char *>(calloc(count, 1));
    if (g_records == NULL || g_states == NULL) {
        free(g_records);
        free(g_states);
        g_records = NULL;
        g_states = NULL;
        g_bookkeeping_failed = true;
        return false;
    }
    const unsigned char *at = g_build_info.record_index;
    for (unsigned long i = 0; i < count; i++) {
        g_records[i] = at;
        IndexRecord record;
        at = next_index_record(at, &record);
    }
    return true;
}

// Below this many files a thread costs more than it saves.
static const unsigned long THREADED_FROM_RECORDS = 32;

int index_check_threads()
{
    return g_build_info.record_count < THREADED_FROM_RECORDS ? 1 : processor_threads();
}

bool index_check_unpack_directory(int threads)
{
    if (!index_usable() || !make_bookkeeping()) {
        return false;
    }
    if (threads < 1) {
        threads = 1;
    }
    if (threads > MAX_WORKER_THREADS) {
        threads = MAX_WORKER_THREADS;
    }
    int buffers = 0;
    while (buffers < threads &&
           (g_read_buffers[buffers] = static_cast<unsigned char *>(VirtualAlloc(
                NULL, FILE_CHECK_READ_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) != NULL) {
        buffers++;
    }
    if (buffers == 0) {
        g_bookkeeping_failed = true;
        return false;
    }
    threads = buffers;
    g_found_difference = 0;
    // The main program first, alone: on a first start it is missing, and the
    // check ends there without a thread made (whose traces would add to the
    // memory the decoder then needs).
    g_next_record = 1;
    check_record(0, g_read_buffers[0]);
    // The threads only read files and write their own records' states.
    if (!g_found_difference) {
        run_on_threads(threads, check_records);
    }
    for (int t = 0; t < buffers; t++) {
        VirtualFree(g_read_buffers[t], 0, MEM_RELEASE);
        g_read_buffers[t] = NULL;
    }
    if (g_found_difference) {
        return false;
    }
    IndexRecord first;
    next_index_record(g_records[0], &first);
    record_target(first, g_main_binary_path);
    return true;
}

RecordState indexed_record_state(unsigned long i)
{
    if (g_states == NULL || i >= g_build_info.record_count) {
        return RECORD_UNKNOWN;
    }
    return static_cast<RecordState>(g_states[i]);
}

void indexed_record(unsigned long i, IndexRecord *record)
{
    next_index_record(g_records[i], record);
}

unsigned long indexed_record_count()
{
    return index_usable() && make_bookkeeping() ? g_build_info.record_count : 0;
}

bool index_record_agrees(unsigned long i, const wchar_t *name, size_t length, uint64_t size, uint32_t stored)
{
    if (!index_usable() || !make_bookkeeping()) {
        return true;
    }
    if (i >= g_build_info.record_count) {
        return false;
    }
    IndexRecord record;
    next_index_record(g_records[i], &record);
    if (record.name_length != length || record.size != size || record.stored_checksum != stored) {
        return false;
    }
    for (size_t u = 0; u < length; u++) {
        if (read_le16(record.name + 2 * u) != static_cast<uint16_t>(name[u])) {
            return false;
        }
    }
    return true;
}
