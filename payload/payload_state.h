// payload_state.h: the unpack's parts of a launch, each written by the
// payload stage alone: the directories known to exist, what the index check
// learnt and how far the unpack has gone. No Win32 header: the counters are
// the types the interlocked functions take.
#ifndef ZOBREL_PAYLOAD_PAYLOAD_STATE_H
#define ZOBREL_PAYLOAD_PAYLOAD_STATE_H

#include "payload/reader_state.h"

// Directories the memo can remember; later ones are created but not remembered.
static const int CREATED_DIRECTORIES_CAPACITY = 1024;

// Directories known to exist, as heap copies, matched by exact code units;
// written by payload/directories.cpp. Entry 0 is the user's home folder,
// added at the memo's first use (seeded).
struct DirectoryMemo {
    wchar_t *entries[CREATED_DIRECTORIES_CAPACITY];
    int count;
    bool seeded;
};

// What the index check learnt; written by payload/index_check.cpp. Heap
// arrays made once per launch, one entry per indexed record.
struct IndexCheckState {
    // Where each record starts in the index.
    const unsigned char **records;
    // A RecordState per record (payload/index_check.h).
    unsigned char *states;
    // The arrays could not be had: the index is not used at all.
    bool bookkeeping_failed;
};

// How far the unpack has gone: written by payload/unpack.cpp as it goes
// through the stream (files and bytes passed, written or not), read by
// whatever shows the progress, which it calls back at every chunk with the
// listener it set. The counters are interlocked (LONG64 and LONG), so that a
// thread of the progress display may read them; null callback: nothing is
// shown.
struct UnpackProgress {
    long long volatile bytes_done;
    long volatile files_done;
    void (*advanced)(void *listener);
    void *listener;
};

// The payload stage's whole part of a launch.
struct PayloadStage {
    DirectoryMemo directories;
    PayloadReader reader;
    UnpackProgress progress;
    IndexCheckState index;
};

#endif
