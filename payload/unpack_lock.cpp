// unpack_lock.cpp: the unpack directory's lock, a named mutex.
//
// Why a mutex named after the path rather than a lock file beside the folder:
// the system hands an abandoned mutex to the next waiter at once
// (WAIT_ABANDONED), it leaves nothing on disk, and it needs no writable
// parent folder. It lives in the session's own namespace ("Local\"): a global
// name would let any other user on the machine create it first and keep
// every launcher of this folder waiting. So launchers serialise within one
// logon session, which is where several copies of one user's program start.
#include "payload/unpack_lock.h"

#include <windows.h>
#include <stdint.h>
#include <wchar.h>

#include "common/platform.h"
#include "common/wide_buffer.h"

static const wchar_t LOCK_NAME_PREFIX[] = L"Local\\zobrel-onefile-unpack-";

void unpack_lock_name(const wchar_t *directory, wchar_t *name, size_t capacity)
{
    if (capacity < UNPACK_LOCK_NAME_CAPACITY) {
        terminate_abnormally();
    }
    size_t length = bounded_wide_length(directory, WIDE_PATH_CAPACITY);
    while (length > 0 && directory[length - 1] == L'\\') {
        length--;
    }
    // Windows matches paths without regard to case: the invariant upper case
    // makes C:\Apps and c:\apps one lock. On the stack: the tidy thread
    // names other folders' locks while the main thread runs.
    wchar_t upper_directory[WIDE_PATH_CAPACITY];
    int upper = 0;
    if (length > 0) {
        upper = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, directory, static_cast<int>(length),
                             upper_directory, static_cast<int>(WIDE_PATH_CAPACITY));
    }
    // 64-bit FNV-1a over the units; two folders that collide only share a
    // lock, they never skip one.
    uint64_t hash = 14695981039346656037ull;
    for (int i = 0; i < upper; i++) {
        hash = (hash ^ static_cast<uint16_t>(upper_directory[i])) * 1099511628211ull;
    }
    copy_wide(name, capacity, LOCK_NAME_PREFIX);
    size_t end = wcslen(name);
    static const wchar_t HEX[] = L"0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) {
        append_wide_unit(name, capacity, &end, HEX[(hash >> shift) & 15]);
    }
}

// The directory's lock once this process holds it, waiting at most the
// given milliseconds; null, with the system error in *error (WAIT_TIMEOUT
// when the time ran out), when it is not had.
static HANDLE take_unpack_lock(const wchar_t *directory, DWORD milliseconds, DWORD *error)
{
    wchar_t name[UNPACK_LOCK_NAME_CAPACITY];
    unpack_lock_name(directory, name, UNPACK_LOCK_NAME_CAPACITY);
    // Not owned at creation: whoever made it, every launcher then waits the
    // same way. Not inheritable, so the child never holds it.
    HANDLE mutex = CreateMutexW(/* lpMutexAttributes */ NULL, /* bInitialOwner */ FALSE, name);
    if (mutex == NULL) {
        *error = GetLastError();
        return NULL;
    }
    DWORD waited = WaitForSingleObject(mutex, milliseconds);
    // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        *error = waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError();
        CloseHandle(mutex);
        return NULL;
    }
    return mutex;
}

StageResult acquire_unpack_lock(HANDLE *lock, const wchar_t *directory)
{
    DWORD error = 0;
    HANDLE mutex = take_unpack_lock(directory, INFINITE, &error);
    if (mutex == NULL) {
        return stage_failed(FAILURE_LOCK, error);
    }
    *lock = mutex;
    return stage_succeeded();
}

bool try_acquire_unpack_lock(HANDLE *lock, const wchar_t *directory)
{
    DWORD error = 0;
    HANDLE mutex = take_unpack_lock(directory, 0, &error);
    if (mutex == NULL) {
        return false;
    }
    *lock = mutex;
    return true;
}

void release_unpack_lock(HANDLE *lock)
{
    if (*lock == NULL) {
        return;
    }
    ReleaseMutex(*lock);
    CloseHandle(*lock);
    *lock = NULL;
}
