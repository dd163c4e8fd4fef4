// index_check.cpp: the unpack directory against the record index, before decoding.
#include "payload/index_check.h"

#include <windows.h>
#include <stdlib.h>

#include "common/platform.h"
#include "common/wide_buffer.h"
#include "payload/file_checksum.h"
#include "payload/worker_threads.h"
#include "little_endian.h"

// One run of the check: the threads take records off `next` until there are
// none, or one of them found a file that differs.
struct ContentCheck {
    const LaunchShared *launch;
    IndexCheckState *index;
    LONG volatile next;
    LONG volatile found_difference;
    // One read buffer per thread, taken from the system for the check and
    // given back to it (not to the heap, which would keep it) before anything
    // is decoded, so that a cold start's peak memory (the decoder's) does not
    // grow.
    unsigned char *buffers[MAX_WORKER_THREADS];
};

static bool index_usable(const LaunchShared *launch, const IndexCheckState *index)
{
    return launch->build.record_index != NULL && launch->build.record_count > 0 && !index->bookkeeping_failed;
}

void record_target(const LaunchShared *launch, const IndexRecord &record, wchar_t *target)
{
    copy_wide(target, WIDE_PATH_CAPACITY, launch->unpack_directory);
    size_t length = bounded_wide_length(target, WIDE_PATH_CAPACITY);
    append_wide_unit(target, WIDE_PATH_CAPACITY, &length, L'\\');
    for (uint32_t u = 0; u < record.name_length; u++) {
        append_wide_unit(target, WIDE_PATH_CAPACITY, &length,
                         static_cast<wchar_t>(read_le16(record.name + 2 * u)));
    }
}

// Checks one record's file and notes what it found.
static void check_record(ContentCheck *check, LONG i, unsigned char *buffer)
{
    IndexCheckState *index = check->index;
    wchar_t target[WIDE_PATH_CAPACITY];
    IndexRecord record;
    next_index_record(index->records[i], &record);
    record_target(check->launch, record, target);
    if (file_matches(target, record.size, record.stored_checksum, buffer, FILE_CHECK_READ_SIZE)) {
        index->states[i] = RECORD_MATCHES;
        return;
    }
    index->states[i] = RECORD_DIFFERS;
    InterlockedExchange(&check->found_difference, 1);
}

// Takes records off the shared counter until there are none, or one differs.
static void check_records(void *work, int slot)
{
    ContentCheck *check = static_cast<ContentCheck *>(work);
    for (;;) {
        if (check->found_difference) {
            return;
        }
        LONG i = InterlockedIncrement(&check->next) - 1;
        if (static_cast<unsigned long>(i) >= check->launch->build.record_count) {
            return;
        }
        check_record(check, i, check->buffers[slot]);
    }
}

// Made once per launch. Without memory for it the index is not used at all:
// the unpacker then works as without one.
static bool make_bookkeeping(const LaunchShared *launch, IndexCheckState *index)
{
    if (index->records != NULL) {
        return true;
    }
    unsigned long count = launch->build.record_count;
    index->records = static_cast<const unsigned char **>(malloc(count * sizeof *index->records));
    index->states = static_cast<unsigned char *>(calloc(count, 1));
    if (index->records == NULL || index->states == NULL) {
        free(index->records);
        free(index->states);
        index->records = NULL;
        index->states = NULL;
        index->bookkeeping_failed = true;
        return false;
    }
    const unsigned char *at = launch->build.record_index;
    for (unsigned long i = 0; i < count; i++) {
        index->records[i] = at;
        IndexRecord record;
        at = next_index_record(at, &record);
    }
    return true;
}

// Below this many files a thread costs more than it saves.
static const unsigned long THREADED_FROM_RECORDS = 32;

int index_check_threads(const LaunchShared *launch)
{
    return launch->build.record_count < THREADED_FROM_RECORDS ? 1 : processor_threads();
}

bool index_check_unpack_directory(const LaunchShared *launch, IndexCheckState *index, int threads)
{
    if (!index_usable(launch, index) || !make_bookkeeping(launch, index)) {
        return false;
    }
    if (threads < 1) {
        threads = 1;
    }
    if (threads > MAX_WORKER_THREADS) {
        threads = MAX_WORKER_THREADS;
    }
    ContentCheck check = {};
    check.launch = launch;
    check.index = index;
    int buffers = 0;
    while (buffers < threads &&
           (check.buffers[buffers] = static_cast<unsigned char *>(VirtualAlloc(
                NULL, FILE_CHECK_READ_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) != NULL) {
        buffers++;
    }
    if (buffers == 0) {
        index->bookkeeping_failed = true;
        return false;
    }
    // The main program first, alone: on a first start it is missing, and the
    // check ends there without a thread made (whose traces would add to the
    // memory the decoder then needs).
    check.next = 1;
    check_record(&check, 0, check.buffers[0]);
    // The threads only read files and write their own records' states.
    if (!check.found_difference) {
        run_on_threads(buffers, check_records, &check);
    }
    for (int t = 0; t < buffers; t++) {
        VirtualFree(check.buffers[t], 0, MEM_RELEASE);
    }
    return !check.found_difference;
}

void main_binary_from_index(LaunchShared *launch, const IndexCheckState *index)
{
    if (!index_usable(launch, index)) {
        terminate_abnormally();
    }
    IndexRecord first;
    next_index_record(launch->build.record_index, &first);
    record_target(launch, first, launch->main_binary_path);
}

RecordState indexed_record_state(const LaunchShared *launch, const IndexCheckState *index, unsigned long i)
{
    if (index->states == NULL || i >= launch->build.record_count) {
        return RECORD_UNKNOWN;
    }
    return static_cast<RecordState>(index->states[i]);
}

void indexed_record(const IndexCheckState *index, unsigned long i, IndexRecord *record)
{
    next_index_record(index->records[i], record);
}

unsigned long indexed_record_count(const LaunchShared *launch, IndexCheckState *index)
{
    return index_usable(launch, index) && make_bookkeeping(launch, index) ? launch->build.record_count : 0;
}

bool index_record_agrees(const LaunchShared *launch, IndexCheckState *index, unsigned long i,
                         const wchar_t *name, size_t length, uint64_t size, uint32_t stored)
{
    if (!index_usable(launch, index) || !make_bookkeeping(launch, index)) {
        return true;
    }
    if (i >= launch->build.record_count) {
        return false;
    }
    IndexRecord record;
    next_index_record(index->records[i], &record);
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
