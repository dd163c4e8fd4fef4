// unpack_lock.h: one launcher at a time per unpack directory. The holder
// checks and writes the files; a launcher started meanwhile waits, then finds
// every file in place and writes nothing. Safe from any thread: the tidy
// thread takes other folders' locks while the main thread runs.
#ifndef ZOBREL_PAYLOAD_UNPACK_LOCK_H
#define ZOBREL_PAYLOAD_UNPACK_LOCK_H

#include <windows.h>
#include <stddef.h>

#include "common/stage_result.h"

// Units of a lock name, NUL included.
static const size_t UNPACK_LOCK_NAME_CAPACITY = 64;

// Writes into name (capacity units, at least UNPACK_LOCK_NAME_CAPACITY; less
// ends the process abnormally) the name of the lock for the directory: the
// same for every spelling of its full path that differs only in letter case
// or trailing backslashes. The directory must fit a wide path buffer.
void unpack_lock_name(const wchar_t *directory, wchar_t *name, size_t capacity);

// Waits, without a time limit, until this process holds the directory's
// lock, and puts its handle in *lock. A lock whose holder ended without
// releasing it (killed mid-unpack) is taken over at once; what that holder
// left half-written fails its checksum and is written again. FAILURE_LOCK
// with the system error, *lock untouched, when the lock cannot be made or
// waited for. Ending the process in any way releases the lock.
StageResult acquire_unpack_lock(HANDLE *lock, const wchar_t *directory);

// Takes the directory's lock only if it is free now, without waiting: true
// with its handle in *lock (also when its last holder ended without
// releasing it); false, *lock untouched, when another launcher holds it or
// it cannot be made. For a look at another directory (a tidy), which must
// never wait for a launcher at work there. The same thread taking a lock it
// already holds gets it again (a mutex is recursive).
bool try_acquire_unpack_lock(HANDLE *lock, const wchar_t *directory);

// Gives up the lock *lock holds and sets it to null; nothing happens when
// it is null.
void release_unpack_lock(HANDLE *lock);

#endif
