// brief_hold.h: waits out another program's brief hold on a file of the
// unpack directory, for every open that checks or writes a file and for the
// state file's replacement.
//
// Antivirus scanners, indexers and backup agents open a freshly written
// file, often without sharing it, for tens to hundreds of milliseconds. An
// open or a rename that meets such a hold fails with ERROR_SHARING_VIOLATION
// or ERROR_LOCK_VIOLATION; one that meets a file still pending deletion
// (closed by its deleter but not yet gone) with ERROR_ACCESS_DENIED. These
// are worth another try a little later; any other error is final at once.
//
// Called only after a try failed, so a try that succeeds costs nothing more:
//
//     BriefHoldWait wait = {0};
//     do {
//         file = CreateFileW(...);
//     } while (file == INVALID_HANDLE_VALUE && wait_out_brief_hold(&wait));
//
// Each wait is as long as all before it together (10 ms first, at most 250 ms
// at a time), until the waits reach BRIEF_HOLD_BOUND_MS in all. Any thread;
// each caller keeps its own BriefHoldWait.
#ifndef ZOBREL_PAYLOAD_BRIEF_HOLD_H
#define ZOBREL_PAYLOAD_BRIEF_HOLD_H

// How long one open or rename waits in all before it fails as it would
// have at once: two seconds, many times what a scanner usually takes, and
// short next to what a user waits for a program to start.
static const unsigned long BRIEF_HOLD_BOUND_MS = 2000;

struct BriefHoldWait {
    unsigned long waited_ms;  // waited so far for this open or rename
};

// Right after a failed try, with its error still the thread's last error:
// when that error is one a brief hold gives and the waits so far are below
// the bound, sleeps the next wait and returns true (try again). Otherwise
// returns false at once, the last error as it was: the caller fails as it
// would have without waiting.
bool wait_out_brief_hold(BriefHoldWait *wait);

#endif
