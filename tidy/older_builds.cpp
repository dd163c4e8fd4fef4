// older_builds.cpp: removes the unpack folders of a product's older builds.
#include "tidy/older_builds.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/wide_buffer.h"
#include "pathspec/run_values.h"
#include "payload/unpack_lock.h"
#include "tidy/build_marker.h"
#include "tidy/remove_tree.h"

static const wchar_t TRASH_PREFIX[] = L".zobrel-trash-";

// A folder name as a directory listing gives it: at most MAX_PATH - 1 units.
static const size_t FOLDER_NAME_CAPACITY = MAX_PATH;

// One folder of the parent worth a look.
struct FoundFolder {
    wchar_t name[FOLDER_NAME_CAPACITY];
    // When its latest start began (its marker's last-write time).
    ULONGLONG started;
    // Trash an earlier removal left, rather than a build's folder.
    bool trash;
};

// Everything one tidy knows; one tidy at a time.
struct TidyWork {
    uint64_t identity;
    // "<TRASH_PREFIX><identity in 16 hex digits>-": this product's trash.
    wchar_t trash_prefix[40];
    wchar_t parent[WIDE_PATH_CAPACITY];
    wchar_t own_name[WIDE_PATH_CAPACITY];
    wchar_t folder[WIDE_PATH_CAPACITY];
    wchar_t trash[WIDE_PATH_CAPACITY];
    FoundFolder found[TIDY_FOLDERS_CAPACITY];
    int found_count;
};

static TidyWork g_work;

static bool past(ULONGLONG deadline)
{
    return GetTickCount64() > deadline;
}

// Splits the unpack directory into its parent and its own last component;
// false when it has no parent (a drive or share root).
static bool split_unpack_directory(const wchar_t *directory, TidyWork *work)
{
    copy_wide(work->parent, WIDE_PATH_CAPACITY, directory);
    size_t length = wcslen(work->parent);
    while (length > 0 && work->parent[length - 1] == L'\\') {
        work->parent[--length] = L'\0';
    }
    wchar_t *last = wcsrchr(work->parent, L'\\');
    if (last == NULL || last == work->parent || last[1] == L'\0') {
        return false;
    }
    copy_wide(work->own_name, WIDE_PATH_CAPACITY, last + 1);
    *last = L'\0';
    // A directory right under "\\server" would be a share: nothing to list beside it.
    return !(work->parent[0] == L'\\' && wcschr(work->parent + 2, L'\\') == NULL);
}

static void make_trash_prefix(TidyWork *work)
{
    copy_wide(work->trash_prefix, sizeof work->trash_prefix / sizeof(wchar_t), TRASH_PREFIX);
    size_t end = wcslen(work->trash_prefix);
    static const wchar_t HEX[] = L"0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) {
        append_wide_unit(work->trash_prefix, sizeof work->trash_prefix / sizeof(wchar_t), &end,
                         HEX[(work->identity >> shift) & 15]);
    }
    append_wide_unit(work->trash_prefix, sizeof work->trash_prefix / sizeof(wchar_t), &end, L'-');
}

// parent\name into out; false when it does not fit.
static bool join(wchar_t *out, const wchar_t *parent, const wchar_t *name)
{
    out[0] = L'\0';
    return append_wide_if_fits(out, WIDE_PATH_CAPACITY, parent) &&
           append_wide_if_fits(out, WIDE_PATH_CAPACITY, L"\\") &&
           append_wide_if_fits(out, WIDE_PATH_CAPACITY, name);
}

static bool same_name(const wchar_t *a, const wchar_t *b)
{
    // As the file system compares names: ordinal, without regard to case.
    return CompareStringOrdinal(a, -1, b, -1, /* bIgnoreCase */ TRUE) == CSTR_EQUAL;
}

// Notes the entry when it is this product's trash or another build's folder.
static void consider(TidyWork *work, const WIN32_FIND_DATAW &entry)
{
    const DWORD attributes = entry.dwFileAttributes;
    const wchar_t *name = entry.cFileName;
    // Only real folders: a link may lead anywhere, and is never ours.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0 || same_name(name, work->own_name)) {
        return;
    }
    FoundFolder *found = &work->found[work->found_count];
    if (wcsncmp(name, work->trash_prefix, wcslen(work->trash_prefix)) == 0) {
        found->trash = true;
        found->started = 0;
    } else {
        FILETIME started;
        if (!join(work->folder, work->parent, name) ||
            !read_build_marker(work->folder, work->identity, &started)) {
            return;
        }
        found->trash = false;
        found->started = (static_cast<ULONGLONG>(started.dwHighDateTime) << 32) | started.dwLowDateTime;
    }
    copy_wide(found->name, FOLDER_NAME_CAPACITY, name);
    work->found_count++;
}

// Lists the parent once, noting what is worth a look, before anything in
// it changes.
static void gather(TidyWork *work, ULONGLONG deadline, TidyOutcome *outcome)
{
    work->found_count = 0;
    if (!join(work->folder, work->parent, L"*")) {
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileExW(work->folder, FindExInfoBasic, &entry, FindExSearchNameMatch,
                                      /* lpSearchFilter */ NULL, FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (past(deadline)) {
            outcome->out_of_time = true;
            break;
        }
        consider(work, entry);
    } while (work->found_count < TIDY_FOLDERS_CAPACITY && FindNextFileW(listing, &entry));
    FindClose(listing);
}

// Most recently started first; trash last.
static int by_start(const void *left, const void *right)
{
    const FoundFolder *a = static_cast<const FoundFolder *>(left);
    const FoundFolder *b = static_cast<const FoundFolder *>(right);
    if (a->trash != b->trash) {
        return a->trash ? 1 : -1;
    }
    return a->started > b->started ? -1 : a->started < b->started ? 1 : wcscmp(a->name, b->name);
}

// Renames the folder at work->folder to a fresh trash name in work->trash,
// with its unpack lock held and its marker free; false when it is in use or
// cannot be renamed (on Windows, a file in it is open).
static bool move_to_trash(TidyWork *work)
{
    HANDLE lock = NULL;
    if (!try_acquire_unpack_lock(&lock, work->folder)) {
        return false;
    }
    bool moved = false;
    // The marker is looked at, and closed again, before the rename: on
    // Windows an open file in a folder keeps it from being renamed.
    if (build_marker_free(work->folder, work->identity)) {
        for (int attempt = 0; attempt < 3 && !moved; attempt++) {
            wchar_t name[40 + RANDOM_TOKEN_CAPACITY];
            wchar_t token[RANDOM_TOKEN_CAPACITY];
            generate_random_token(token);
            copy_wide(name, sizeof name / sizeof(wchar_t), work->trash_prefix);
            append_wide(name, sizeof name / sizeof(wchar_t), token);
            // No replacing: a name already taken gives another try.
            moved = join(work->trash, work->parent, name) &&
                    MoveFileExW(work->folder, work->trash, /* dwFlags */ 0) != FALSE;
        }
    }
    // Held until the folder has its trash name: a launcher of that build
    // waiting for the lock then finds no folder, and unpacks afresh.
    release_unpack_lock(&lock);
    return moved;
}

TidyOutcome tidy_older_builds(LaunchContext *context, ULONGLONG deadline)
{
    TidyOutcome outcome = {};
    TidyWork *work = &g_work;
    const unsigned long keep = context->build.keep_builds;
    if (keep == 0 || !split_unpack_directory(context->unpack_directory, work)) {
        return outcome;
    }
    work->identity = product_identity(context->build);
    make_trash_prefix(work);
    gather(work, deadline, &outcome);
    qsort(work->found, static_cast<size_t>(work->found_count), sizeof work->found[0], by_start);

    // This build's folder is one of the N kept; the others are the N-1
    // most recently started among those found.
    unsigned long kept = 1;
    for (int i = 0; i < work->found_count; i++) {
        FoundFolder *found = &work->found[i];
        if (!found->trash && kept < keep) {
            kept++;
            continue;
        }
        if (past(deadline)) {
            outcome.out_of_time = true;
            break;
        }
        if (!join(work->folder, work->parent, found->name)) {
            continue;
        }
        if (found->trash) {
            if (remove_tree(work->folder, deadline)) {
                outcome.leftovers_cleared++;
            } else {
                outcome.stopped++;
            }
        } else if (!move_to_trash(work)) {
            outcome.in_use++;
        } else if (remove_tree(work->trash, deadline)) {
            outcome.removed++;
        } else {
            outcome.stopped++;
        }
    }
    if (past(deadline)) {
        outcome.out_of_time = true;
    }
    return outcome;
}

static DWORD WINAPI tidy_thread(LPVOID parameter)
{
    LaunchContext *context = static_cast<LaunchContext *>(parameter);
    context->tidy.outcome = tidy_older_builds(context, context->tidy.deadline);
    return 0;
}

void start_tidy(LaunchContext *context)
{
    if (context->build.keep_builds == 0 || context->tidy.thread != NULL) {
        return;
    }
    context->tidy.deadline = GetTickCount64() + TIDY_TIME_LIMIT_MS;
    // A small stack: the tidy's buffers are static, its calls shallow.
    context->tidy.thread =
        CreateThread(/* lpThreadAttributes */ NULL, /* dwStackSize */ 64 * 1024, tidy_thread, context,
                     STACK_SIZE_PARAM_IS_A_RESERVATION, /* lpThreadId */ NULL);
}

void finish_tidy(LaunchContext *context)
{
    HANDLE thread = context->tidy.thread;
    if (thread == NULL) {
        return;
    }
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG deadline = context->tidy.deadline;
    // A little past the deadline: the tidy checks it between entries, so
    // one entry's removal may still be under way when it passes.
    const DWORD wait = static_cast<DWORD>(deadline > now ? deadline - now + 100 : 100);
    WaitForSingleObject(thread, wait);
    CloseHandle(thread);
    context->tidy.thread = NULL;
}
