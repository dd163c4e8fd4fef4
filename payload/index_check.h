// index_check.h: compares the unpack directory with the record index before
// anything is decoded. When every indexed file is in place the payload is
// never touched; otherwise what was learnt here spares the unpacker a second
// look at the same files.
#ifndef ZOBREL_PAYLOAD_INDEX_CHECK_H
#define ZOBREL_PAYLOAD_INDEX_CHECK_H

#include <stddef.h>
#include <stdint.h>

#include "common/launch_shared.h"
#include "payload/payload_state.h"
#include "build_constants.h"

enum RecordState {
    RECORD_UNKNOWN = 0,  // not looked at
    RECORD_MATCHES = 1,  // the file holds the record's content
    RECORD_DIFFERS = 2,  // missing, unreadable, another size or another checksum
};

// How many threads the check is worth for the build's index on this
// machine: one per processor, at most MAX_WORKER_THREADS, once the index
// lists enough files for threads to pay for themselves; else one.
int index_check_threads(const LaunchShared *launch);

// Checks every record of the build's record index against the file of its
// name under the unpack directory (file_matches: size and CRC-32), on
// `threads` threads at once (1 to MAX_WORKER_THREADS; the caller's own
// counts as one), and notes in `index` what it found for each record.
// Stops at the first file that differs. True when every file matches: the
// payload need not be read (main_binary_from_index then gives the program to
// start). False when one differs, when there is no usable index, or when the
// bookkeeping cannot be allocated (then nothing was checked). Must run where
// the unpack lock is held. A target path over 4095 units ends the process
// abnormally, as unpacking it would.
bool index_check_unpack_directory(const LaunchShared *launch, IndexCheckState *index, int threads);

// Sets the launch's main binary path to the target path of the index's
// first record. Only with a usable index (the content or metadata check has
// found every file in place); otherwise the process ends abnormally.
void main_binary_from_index(LaunchShared *launch, const IndexCheckState *index);

// What the check found for record i (RECORD_UNKNOWN for a record it did not
// reach, and for every record when it did not run).
RecordState indexed_record_state(const LaunchShared *launch, const IndexCheckState *index, unsigned long i);

// True when record i of the index has this name (`length` units), size and
// stored checksum. False for an i beyond the index. Without a usable index
// (none, or no memory to use it) every record agrees.
bool index_record_agrees(const LaunchShared *launch, IndexCheckState *index, unsigned long i,
                         const wchar_t *name, size_t length, uint64_t size, uint32_t stored);

// The number of records the index lists, or 0 without a usable index.
unsigned long indexed_record_count(const LaunchShared *launch, IndexCheckState *index);

// Record i of a usable index (i below indexed_record_count()).
void indexed_record(const IndexCheckState *index, unsigned long i, IndexRecord *record);

// Writes into target (a wide path buffer) the record's target path: the
// launch's unpack directory, a backslash, its name. Over 4095 units ends
// the process abnormally.
void record_target(const LaunchShared *launch, const IndexRecord &record, wchar_t *target);

#endif
