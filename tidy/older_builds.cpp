// older_builds.cpp: removes the unpack folders of a product's older builds.
#include "tidy/older_builds.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/final_path.h"
#include "common/through_handle.h"
#include "common/wide_buffer.h"
#include "pathspec/run_values.h"
#include "payload/unpack_lock.h"
#include "tidy/build_marker.h"
#include "tidy/remove_tree.h"
#include "tidy/running_programs.h"

static const wchar_t TRASH_PREFIX[] = L".zobrel-trash-";
static const wchar_t LEFT_PREFIX[] = L".zobrel-left-";

// A folder name as a directory listing gives it: at most MAX_PATH - 1 units.
static const size_t FOLDER_NAME_CAPACITY = MAX_PATH;

// Units of a product's trash or left prefix: the longer prefix, 16 hex
// digits, a '-' and a NUL.
static const size_t PREFIX_CAPACITY = 40;

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
    // "<TRASH_PREFIX><identity in 16 hex digits>-": this product's trash;
    // the same after LEFT_PREFIX: what this product's tidies left for good.
    wchar_t trash_prefix[PREFIX_CAPACITY];
    wchar_t left_prefix[PREFIX_CAPACITY];
    wchar_t parent[WIDE_PATH_CAPACITY];
    // The parent as the file system resolves it, once.
    FinalPath parent_root;
    // The unpack directory's own name: as its path spells it, and as the
    // file system does (empty when it resolves elsewhere than the parent).
    wchar_t own_name[WIDE_PATH_CAPACITY];
    wchar_t own_final_name[WIDE_PATH_CAPACITY];
    wchar_t folder[WIDE_PATH_CAPACITY];
    wchar_t trash[WIDE_PATH_CAPACITY];
    wchar_t trash_name[FOLDER_NAME_CAPACITY];
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
    trim_trailing_backslashes(work->parent, wcslen(work->parent));
    wchar_t *last = wcsrchr(work->parent, L'\\');
    if (last == NULL || last == work->parent || last[1] == L'\0') {
        return false;
    }
    copy_wide(work->own_name, WIDE_PATH_CAPACITY, last + 1);
    *last = L'\0';
    // A directory right under "\\server" would be a share: nothing to list beside it.
    return !(work->parent[0] == L'\\' && wcschr(work->parent + 2, L'\\') == NULL);
}

static bool same_name(const wchar_t *a, const wchar_t *b)
{
    // As the file system compares names: ordinal, without regard to case.
    return CompareStringOrdinal(a, -1, b, -1, /* bIgnoreCase */ TRUE) == CSTR_EQUAL;
}

// Resolves the parent, once (the links on the way to it are the user's),
// and finds the unpack directory's name as the file system gives it, when
// the directory resolves to a folder right in it.
static bool resolve_parent(const LaunchShared *launch, TidyWork *work)
{
    HANDLE parent = CreateFileW(work->parent, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                /* hTemplateFile */ NULL);
    if (parent == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool resolved = resolve_final_path(parent, &work->parent_root);
    CloseHandle(parent);
    work->own_final_name[0] = L'\0';
    const FinalPath &root = launch->unpack_root;
    const FinalPath &above = work->parent_root;
    if (resolved && root.form == above.form && root.length > above.length + 1 &&
        root.text[above.length] == L'\\' && wcschr(root.text + above.length + 1, L'\\') == NULL &&
        CompareStringOrdinal(root.text, static_cast<int>(above.length), above.text,
                             static_cast<int>(above.length), /* bIgnoreCase */ TRUE) == CSTR_EQUAL) {
        copy_wide(work->own_final_name, WIDE_PATH_CAPACITY, root.text + above.length + 1);
    }
    return resolved;
}

static void make_prefix(wchar_t *prefix, const wchar_t *start, uint64_t identity)
{
    copy_wide(prefix, PREFIX_CAPACITY, start);
    size_t end = wcslen(prefix);
    append_wide_hex64(prefix, PREFIX_CAPACITY, &end, identity);
    append_wide_unit(prefix, PREFIX_CAPACITY, &end, L'-');
}

// parent\name into out; false when it does not fit.
static bool join(wchar_t *out, const wchar_t *parent, const wchar_t *name)
{
    out[0] = L'\0';
    return append_wide_if_fits(out, WIDE_PATH_CAPACITY, parent) &&
           append_wide_if_fits(out, WIDE_PATH_CAPACITY, L"\\") &&
           append_wide_if_fits(out, WIDE_PATH_CAPACITY, name);
}

static bool starts_with(const wchar_t *name, const wchar_t *prefix)
{
    return wcsncmp(name, prefix, wcslen(prefix)) == 0;
}

// Notes the entry when it is this product's trash or another build's folder.
static void consider(TidyWork *work, const WIN32_FIND_DATAW &entry)
{
    const DWORD attributes = entry.dwFileAttributes;
    const wchar_t *name = entry.cFileName;
    // Only real folders: a link may lead anywhere, and is never ours. What
    // a tidy left for good is never looked into again.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0 || same_name(name, work->own_name) ||
        (work->own_final_name[0] != L'\0' && same_name(name, work->own_final_name)) ||
        starts_with(name, work->left_prefix)) {
        return;
    }
    FoundFolder *found = &work->found[work->found_count];
    if (starts_with(name, work->trash_prefix)) {
        found->trash = true;
        found->started = 0;
    } else {
        FILETIME started;
        if (!join(work->folder, work->parent, name) ||
            !read_folder_marker(work->folder, work->parent_root, name, work->identity, &started)) {
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

// Gives the folder open on the handle, in the parent, a fresh name made of
// the prefix and a random token, into work->trash and work->trash_name. No
// replacing: a name already taken gives another try.
static bool rename_with_prefix(TidyWork *work, HANDLE folder, const wchar_t *prefix, const wchar_t *token)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        wchar_t fresh[RANDOM_TOKEN_CAPACITY];
        if (token == NULL) {
            generate_random_token(fresh);
        }
        copy_wide(work->trash_name, FOLDER_NAME_CAPACITY, prefix);
        if (!append_wide_if_fits(work->trash_name, FOLDER_NAME_CAPACITY, token != NULL ? token : fresh) ||
            !join(work->trash, work->parent, work->trash_name)) {
            return false;
        }
        if (rename_through_handle(folder, work->trash, /* replace */ false)) {
            return true;
        }
        if (token != NULL) {
            return false;
        }
    }
    return false;
}

// Renames the folder `name` (at work->folder) to a fresh trash name, with
// its unpack lock held, unclaimed, its marker free and no program running
// from it; false when it is in use or cannot be renamed (on Windows, a file
// in it is open).
static bool move_to_trash(TidyWork *work, const wchar_t *name)
{
    // The folder itself, where it is meant to be, renamed through this handle.
    HANDLE folder = open_folder_at(work->folder, work->parent_root, name, wcslen(name), DELETE);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Locked by the path it resolves to, as its launchers lock it.
    FinalPath resolved;
    HANDLE lock = NULL;
    bool moved = false;
    // The marker is looked at, and closed again, before the rename: on
    // Windows an open file in a folder keeps it from being renamed.
    if (resolve_final_path(folder, &resolved) && try_acquire_unclaimed_unpack_lock(&lock, resolved)) {
        moved = build_marker_free(work->folder, work->parent_root, name, work->identity) &&
                !program_runs_from(work->folder) &&
                rename_with_prefix(work, folder, work->trash_prefix, /* token: a new one */ NULL);
        // Held until the folder has its trash name: a launcher of that build
        // waiting for the lock then finds no folder, and unpacks afresh.
        release_unpack_lock(&lock);
    }
    CloseHandle(folder);
    return moved;
}

// Renames the trash work->trash, named trash_name, to what this product's
// tidies leave for good: the left prefix and the same token.
static void leave_for_good(TidyWork *work, const wchar_t *trash_name)
{
    wchar_t token[FOLDER_NAME_CAPACITY];
    copy_wide(token, FOLDER_NAME_CAPACITY, trash_name + wcslen(work->trash_prefix));
    HANDLE folder = open_folder_at(work->trash, work->parent_root, trash_name, wcslen(trash_name), DELETE);
    if (folder != INVALID_HANDLE_VALUE) {
        rename_with_prefix(work, folder, work->left_prefix, token);
        CloseHandle(folder);
    }
}

// Removes the trash at work->trash, named trash_name, and counts what came of it.
static void clear_trash(TidyWork *work, const wchar_t *trash_name, ULONGLONG deadline, unsigned *done,
                        TidyOutcome *outcome)
{
    wchar_t name[FOLDER_NAME_CAPACITY];
    copy_wide(name, FOLDER_NAME_CAPACITY, trash_name);
    switch (remove_tree(work->trash, work->parent_root, name, deadline)) {
    case TREE_REMOVED:
        (*done)++;
        break;
    case TREE_STOPPED:
        outcome->stopped++;
        break;
    case TREE_LEFT:
        leave_for_good(work, name);
        outcome->left++;
        break;
    }
}

// Finds the unpack directory's parent and the product's names there; false
// when there is no parent to tidy.
static bool begin_work(const LaunchShared *launch, TidyWork *work)
{
    if (!split_unpack_directory(launch->unpack_directory, work) || !resolve_parent(launch, work)) {
        return false;
    }
    work->identity = product_identity(launch->build);
    make_prefix(work->trash_prefix, TRASH_PREFIX, work->identity);
    make_prefix(work->left_prefix, LEFT_PREFIX, work->identity);
    return true;
}

TidyOutcome tidy_older_builds(const LaunchShared *launch, ULONGLONG deadline)
{
    TidyOutcome outcome = {};
    TidyWork *work = &g_work;
    const unsigned long keep = launch->build.keep_builds;
    if (keep == 0 || !begin_work(launch, work)) {
        return outcome;
    }
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
        if (found->trash) {
            if (join(work->trash, work->parent, found->name)) {
                clear_trash(work, found->name, deadline, &outcome.leftovers_cleared, &outcome);
            }
        } else if (!join(work->folder, work->parent, found->name) || !move_to_trash(work, found->name)) {
            outcome.in_use++;
        } else {
            clear_trash(work, work->trash_name, deadline, &outcome.removed, &outcome);
        }
    }
    if (past(deadline)) {
        outcome.out_of_time = true;
    }
    return outcome;
}

static DWORD WINAPI tidy_thread(LPVOID parameter)
{
    TidyState *tidy = static_cast<TidyState *>(parameter);
    tidy->outcome = tidy_older_builds(tidy->launch, tidy->deadline);
    return 0;
}

void start_tidy(const LaunchShared *launch, TidyState *tidy)
{
    if (launch->build.keep_builds == 0 || tidy->thread != NULL) {
        return;
    }
    tidy->launch = launch;
    tidy->deadline = GetTickCount64() + TIDY_TIME_LIMIT_MS;
    // A small stack: the tidy's big buffers are static, its calls shallow;
    // the largest frames hold a few wide paths (8 KiB each).
    tidy->thread = CreateThread(/* lpThreadAttributes */ NULL, /* dwStackSize */ 256 * 1024, tidy_thread,
                                tidy, STACK_SIZE_PARAM_IS_A_RESERVATION, /* lpThreadId */ NULL);
}

void finish_tidy(TidyState *tidy)
{
    HANDLE thread = tidy->thread;
    if (thread == NULL) {
        return;
    }
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG deadline = tidy->deadline;
    // A little past the deadline: the tidy checks it between entries, so
    // one entry's removal may still be under way when it passes.
    const DWORD wait = static_cast<DWORD>(deadline > now ? deadline - now + 100 : 100);
    tidy->left_running = WaitForSingleObject(thread, wait) != WAIT_OBJECT_0;
    CloseHandle(thread);
    tidy->thread = NULL;
}

TidyOutcome remove_own_folder(LaunchShared *launch, TidyState *tidy, ULONGLONG deadline)
{
    TidyOutcome outcome = {};
    TidyWork *work = &g_work;
    // A tidy still at work owns the work record and the removal's buffers.
    if (!launch->build.remove_own_folder || tidy->thread != NULL || tidy->left_running) {
        return outcome;
    }
    // Let go of what kept the folder from every tidy while the program ran:
    // what still holds a copy of either was started from the folder and
    // inherited it, and runs still.
    if (tidy->marker != NULL) {
        CloseHandle(tidy->marker);
        tidy->marker = NULL;
    }
    if (launch->unpack_claim != NULL) {
        CloseHandle(launch->unpack_claim);
        launch->unpack_claim = NULL;
    }
    if (!begin_work(launch, work) || work->own_final_name[0] == L'\0' ||
        !join(work->folder, work->parent, work->own_final_name)) {
        return outcome;
    }
    // As another start's tidy would remove it: whole into trash, or not at
    // all while anything of it is in use; trash it cannot finish is the
    // product's, which a later start clears.
    if (!move_to_trash(work, work->own_final_name)) {
        outcome.in_use++;
        return outcome;
    }
    clear_trash(work, work->trash_name, deadline, &outcome.removed, &outcome);
    if (past(deadline)) {
        outcome.out_of_time = true;
    }
    return outcome;
}
