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
#include "fnv1a.h"
#include "payload/directories.h"

static const wchar_t LOCK_NAME_PREFIX[] = L"Local\\zobrel-onefile-unpack-";

// How many times a start takes the lock and finds its folder moved away
// before it gives up: each time another start's tidy moved it, which no
// start does twice to a folder in use.
static const int LOCK_ATTEMPTS = 16;

void unpack_lock_name(const FinalPath &folder, wchar_t *name, size_t capacity)
{
    if (capacity < UNPACK_LOCK_NAME_CAPACITY) {
        terminate_abnormally();
    }
    // The invariant upper case makes \\?\C:\Apps and \\?\c:\apps one lock
    // (the drive letter's case is the caller's). On the stack: the tidy
    // thread names other folders' locks while the main thread runs.
    wchar_t upper_folder[FINAL_PATH_CAPACITY];
    int upper = 0;
    if (folder.length > 0) {
        upper = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, folder.text, static_cast<int>(folder.length),
                             upper_folder, static_cast<int>(FINAL_PATH_CAPACITY));
    }
    // 64-bit FNV-1a over the units; two folders that collide only share a
    // lock, they never skip one.
    uint64_t hash = FNV1A_START;
    for (int i = 0; i < upper; i++) {
        hash = fnv1a_unit(hash, static_cast<uint16_t>(upper_folder[i]));
    }
    copy_wide(name, capacity, LOCK_NAME_PREFIX);
    size_t end = wcslen(name);
    append_wide_hex64(name, capacity, &end, hash);
}

// The folder's lock object, made or opened; *existed tells which. Not
// inheritable: only a claim is handed to the child, explicitly.
static HANDLE lock_object(const FinalPath &folder, bool *existed)
{
    wchar_t name[UNPACK_LOCK_NAME_CAPACITY];
    unpack_lock_name(folder, name, UNPACK_LOCK_NAME_CAPACITY);
    // Not owned at creation: whoever made it, every launcher then waits the
    // same way.
    HANDLE mutex = CreateMutexW(/* lpMutexAttributes */ NULL, /* bInitialOwner */ FALSE, name);
    *existed = mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS;
    return mutex;
}

// Waits for the lock at most the given milliseconds; true once this
// process holds it, else false with the system error in *error
// (WAIT_TIMEOUT when the time ran out).
static bool wait_for_lock(HANDLE mutex, DWORD milliseconds, DWORD *error)
{
    const DWORD waited = WaitForSingleObject(mutex, milliseconds);
    // WAIT_ABANDONED: the last holder died holding it; the mutex is ours now.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        return true;
    }
    *error = waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError();
    return false;
}

// Opens the directory, following whatever links lead to it (they are the
// user's), and resolves it. False with the system error in *error.
static bool resolve_directory(const wchar_t *directory, FinalPath *root, DWORD *error)
{
    HANDLE folder =
        CreateFileW(directory, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                    /* hTemplateFile */ NULL);
    if (folder == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    const bool resolved = resolve_final_path(folder, root);
    *error = resolved ? ERROR_SUCCESS : GetLastError();
    CloseHandle(folder);
    return resolved;
}

static bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static bool same_folder(const FinalPath &a, const FinalPath &b)
{
    return a.form == b.form && a.length == b.length &&
           (a.length == 0 ||
            CompareStringOrdinal(a.text, static_cast<int>(a.length), b.text, static_cast<int>(b.length),
                                 /* bIgnoreCase */ TRUE) == CSTR_EQUAL);
}

// Makes the launch's unpack directory: the memo is seeded here, at its
// first use, and only then, since that costs a lookup.
static StageResult make_directory(LaunchShared *launch, DirectoryMemo *memo)
{
    StageResult seeded = seed_directory_memo(launch, memo);
    if (failed(seeded)) {
        return seeded;
    }
    if (!ensure_directory(memo, launch->unpack_directory)) {
        copy_wide(launch->failed_path, WIDE_PATH_CAPACITY, launch->unpack_directory);
        return stage_failed(FAILURE_OPEN, 0, launch->failed_path);
    }
    return stage_succeeded();
}

// The lock of the directory, resolved into *root (made first when a
// launch is given, whose unpack directory it is); see acquire_unpack_lock.
static StageResult lock_directory(LaunchShared *launch, DirectoryMemo *memo, const wchar_t *directory,
                                  HANDLE *lock, FinalPath *root)
{
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        if (!resolve_directory(directory, root, &error)) {
            if (launch == NULL || !is_missing(error)) {
                return stage_failed(FAILURE_LOCK, error);
            }
            // A first start, or one whose folder a tidy moved away: made
            // before it is locked, since the lock is named by what it
            // resolves to.
            StageResult made = make_directory(launch, memo);
            if (failed(made)) {
                return made;
            }
            if (!resolve_directory(directory, root, &error)) {
                return stage_failed(FAILURE_LOCK, error);
            }
        }
        bool existed = false;
        HANDLE mutex = lock_object(*root, &existed);
        if (mutex == NULL) {
            return stage_failed(FAILURE_LOCK, GetLastError());
        }
        if (!wait_for_lock(mutex, INFINITE, &error)) {
            CloseHandle(mutex);
            return stage_failed(FAILURE_LOCK, error);
        }
        // Still the folder the lock is named after? A tidy renames a folder
        // only while it holds that folder's lock, so once this holds it, the
        // answer stays until it is given up.
        FinalPath again;
        if (resolve_directory(directory, &again, &error) && same_folder(again, *root)) {
            *lock = mutex;
            return stage_succeeded();
        }
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        if (error == ERROR_SUCCESS) {
            error = ERROR_CANT_RESOLVE_FILENAME;
        }
    }
    return stage_failed(FAILURE_LOCK, error);
}

StageResult acquire_unpack_lock(LaunchShared *launch, DirectoryMemo *memo)
{
    return lock_directory(launch, memo, launch->unpack_directory, &launch->unpack_lock, &launch->unpack_root);
}

StageResult acquire_unpack_lock_of(HANDLE *lock, const wchar_t *directory, FinalPath *root)
{
    return lock_directory(/* launch: never made */ NULL, /* memo */ NULL, directory, lock, root);
}

bool try_acquire_unclaimed_unpack_lock(HANDLE *lock, const FinalPath &folder)
{
    bool existed = false;
    HANDLE mutex = lock_object(folder, &existed);
    if (mutex == NULL) {
        return false;
    }
    DWORD error = 0;
    // Someone else's handle: a launcher at work there or waiting to be, or
    // one whose program runs.
    if (existed || !wait_for_lock(mutex, 0, &error)) {
        CloseHandle(mutex);
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

void release_unpack_lock_keeping_claim(HANDLE *lock, HANDLE *claim)
{
    if (*lock == NULL) {
        return;
    }
    ReleaseMutex(*lock);
    if (*claim != NULL) {
        CloseHandle(*claim);
    }
    *claim = *lock;
    *lock = NULL;
}
