// unpack_lock.h: one launcher at a time per unpack directory. The holder
// checks and writes the files; a launcher started meanwhile waits, then finds
// every file in place and writes nothing. Safe from any thread: the tidy
// thread takes other folders' locks while the main thread runs.
//
// The lock is named after the folder's final path (common/final_path.h), as
// the file system resolves it, not after the text of its path: every
// spelling of one folder (another letter case, another drive letter for the
// same share or a subst drive, \\?\, a short name, "." parts, a path through
// a link) gets the one lock. Not after the folder's identity either: the
// tidy moves a folder into its trash under its lock, and the identity would
// follow it there, where the path's lock stays with the path.
#ifndef ZOBREL_PAYLOAD_UNPACK_LOCK_H
#define ZOBREL_PAYLOAD_UNPACK_LOCK_H

#include <windows.h>
#include <stddef.h>

#include "common/final_path.h"
#include "common/launch_shared.h"
#include "common/stage_result.h"
#include "payload/payload_state.h"

// Units of a lock name, NUL included.
static const size_t UNPACK_LOCK_NAME_CAPACITY = 64;

// Writes into name (capacity units, at least UNPACK_LOCK_NAME_CAPACITY; less
// ends the process abnormally) the name of the lock of the folder with that
// final path: the same for final paths that differ only in letter case.
void unpack_lock_name(const FinalPath &folder, wchar_t *name, size_t capacity);

// Makes the launch's unpack directory when it is missing (and its parents,
// through the directory memo, seeded first), resolves it into the launch's
// unpack root, and waits, without a time limit, until this process holds
// the lock of that final path (the launch's unpack lock). Then checks that
// the directory's path still resolves there: a tidy of another start may
// have moved the folder into its trash under this same lock while this one
// waited; it then gives the lock up and starts again, making the folder
// afresh. A lock whose holder ended without releasing it (killed
// mid-unpack) is taken over at once; what that holder left half-written
// fails its checksum and is written again. Ending the process in any way
// releases the lock. Failures, with nothing held:
// - FAILURE_EXPAND ("{HOME}") when the memo cannot be seeded;
// - FAILURE_OPEN, with the unpack directory (the launch's failed path),
//   when the directory cannot be made;
// - FAILURE_LOCK with the system error when it cannot be opened or
//   resolved, the lock cannot be made or waited for, or its path resolves
//   elsewhere again and again.
StageResult acquire_unpack_lock(LaunchShared *launch, DirectoryMemo *memo);

// The same for a folder that exists, which is never made: its lock in *lock
// and its final path in *root (tests and benchmarks).
StageResult acquire_unpack_lock_of(HANDLE *lock, const wchar_t *directory, FinalPath *root);

// For a tidy's look at another folder, already resolved: takes the lock of
// that final path, without waiting, only when no other handle to it is open
// in the logon session: no launcher holds it or waits for it, and none keeps
// it as its claim (release_unpack_lock_keeping_claim: that folder's program
// still runs). True with its handle in *lock; false, *lock untouched,
// otherwise or when it cannot be made.
bool try_acquire_unclaimed_unpack_lock(HANDLE *lock, const FinalPath &folder);

// Gives up the lock *lock holds and sets it to null; nothing happens when
// it is null.
void release_unpack_lock(HANDLE *lock);

// Gives up the lock *lock holds, sets it to null, and keeps its handle open
// in *claim, not owned, until the process ends (or the handle is closed):
// the next start of the folder takes the lock at once, but a tidy of
// another start never finds the folder unclaimed while the launcher, or
// its program holding an inherited copy of the handle, runs.
void release_unpack_lock_keeping_claim(HANDLE *lock, HANDLE *claim);

#endif
