// metadata_check.cpp: the state file of the last verified unpack
// (format/state_file_layout.h), and the fast check against it.
#include "payload/metadata_check.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "common/through_handle.h"
#include "common/wide_buffer.h"
#include "pathspec/paths.h"
#include "payload/brief_hold.h"
#include "payload/index_check.h"
#include "payload/target_file.h"
#include "payload/worker_threads.h"
#include "archive_name.h"
#include "little_endian.h"
#include "state_file_layout.h"

// What the file system says about one record's file.
struct FileMeta {
    uint64_t size;
    uint64_t write_time;
    uint64_t file_id;
    uint32_t volume;
    bool found;
};

// One record's file name split into its folder (as raw index units) and its
// last component (widened, for comparing with directory listings).
struct Leaf {
    const unsigned char *folder;
    uint32_t folder_length;
    const wchar_t *name;
    uint32_t name_length;
    unsigned long record;
};

// A directory listing comes back in pieces of this size, one buffer per
// listing thread.
static const DWORD LISTING_SIZE = 64 * 1024;
alignas(8) static unsigned char g_listings[MAX_WORKER_THREADS][LISTING_SIZE];

// The folders to list (each a run of leaves), taken by the threads in turn.
struct FolderRun {
    const Leaf *first;
    const Leaf *end;
};

// One gathering: the folders, the next one to take, where each record's
// metadata goes.
struct FolderListing {
    const LaunchShared *launch;
    const FolderRun *runs;
    unsigned long run_count;
    LONG volatile next;
    FileMeta *meta;
};

// Exact units: the launcher wrote these names itself. A file found under
// another letter case only fails the fast check, and the content check that
// follows finds it as the file system does.
static int compare_names(const wchar_t *a, uint32_t a_length, const wchar_t *b, uint32_t b_length)
{
    uint32_t shorter = a_length < b_length ? a_length : b_length;
    for (uint32_t i = 0; i < shorter; i++) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return a_length == b_length ? 0 : a_length < b_length ? -1 : 1;
}

// Folders in an order of their exact units (any fixed order groups them).
static int compare_folders(const Leaf *a, const Leaf *b)
{
    uint32_t shorter = a->folder_length < b->folder_length ? a->folder_length : b->folder_length;
    int order = memcmp(a->folder, b->folder, 2 * static_cast<size_t>(shorter));
    if (order == 0 && a->folder_length != b->folder_length) {
        order = a->folder_length < b->folder_length ? -1 : 1;
    }
    return order;
}

// Leaves grouped by folder, then by name.
static int compare_leaves(const void *left, const void *right)
{
    const Leaf *a = static_cast<const Leaf *>(left);
    const Leaf *b = static_cast<const Leaf *>(right);
    int order = compare_folders(a, b);
    return order != 0 ? order : compare_names(a->name, a->name_length, b->name, b->name_length);
}

// The leaf of [first, end) whose name equals the listed one, or null.
static const Leaf *find_leaf(const Leaf *first, const Leaf *end, const wchar_t *name, uint32_t length)
{
    while (first < end) {
        const Leaf *middle = first + (end - first) / 2;
        int order = compare_names(middle->name, middle->name_length, name, length);
        if (order == 0) {
            return middle;
        }
        if (order < 0) {
            first = middle + 1;
        } else {
            end = middle;
        }
    }
    return NULL;
}

// Lists one folder, through a handle that reads no file, and notes what it
// says for the records of [first, end) found in it.
static void list_folder(const LaunchShared *launch, const Leaf *first, const Leaf *end, FileMeta *meta,
                        unsigned char *listing)
{
    wchar_t folder[WIDE_PATH_CAPACITY];
    copy_wide(folder, WIDE_PATH_CAPACITY, launch->unpack_directory);
    size_t length = bounded_wide_length(folder, WIDE_PATH_CAPACITY);
    if (first->folder_length > 0) {
        append_wide_unit(folder, WIDE_PATH_CAPACITY, &length, L'\\');
        for (uint32_t u = 0; u < first->folder_length; u++) {
            append_wide_unit(folder, WIDE_PATH_CAPACITY, &length,
                             static_cast<wchar_t>(read_le16(first->folder + 2 * u)));
        }
    }
    // Backup semantics: the only way to open a folder; full sharing, so that
    // nothing anyone does in it is held up.
    HANDLE directory = CreateFileW(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                   /* hTemplateFile */ NULL);
    if (directory == INVALID_HANDLE_VALUE) {
        return;
    }
    BY_HANDLE_FILE_INFORMATION about;
    if (!GetFileInformationByHandle(directory, &about)) {
        CloseHandle(directory);
        return;
    }
    FILE_INFO_BY_HANDLE_CLASS piece = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(directory, piece, listing, LISTING_SIZE)) {
        piece = FileIdBothDirectoryInfo;
        const unsigned char *at = listing;
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(at);
            if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                const Leaf *leaf =
                    find_leaf(first, end, entry->FileName, static_cast<uint32_t>(entry->FileNameLength / 2));
                if (leaf != NULL) {
                    FileMeta *m = &meta[leaf->record];
                    m->size = static_cast<uint64_t>(entry->EndOfFile.QuadPart);
                    m->write_time = static_cast<uint64_t>(entry->LastWriteTime.QuadPart);
                    m->file_id = static_cast<uint64_t>(entry->FileId.QuadPart);
                    m->volume = about.dwVolumeSerialNumber;
                    m->found = true;
                }
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    CloseHandle(directory);
}

// Lists folders off the shared counter until there are none: each writes
// only its own folder's records.
static void list_folders(void *work, int slot)
{
    FolderListing *listing = static_cast<FolderListing *>(work);
    for (;;) {
        LONG i = InterlockedIncrement(&listing->next) - 1;
        if (static_cast<unsigned long>(i) >= listing->run_count) {
            return;
        }
        const FolderRun &run = listing->runs[i];
        list_folder(listing->launch, run.first, run.end, listing->meta, g_listings[slot]);
    }
}

// Fills meta (one entry per indexed record, zeroed by the caller) with what
// one listing of each folder says, folders listed side by side on as many
// threads as the content check would use. False when there is no usable index or
// no memory for the work.
static bool gather_metadata(const LaunchShared *launch, IndexCheckState *index, FileMeta *meta)
{
    unsigned long count = indexed_record_count(launch, index);
    if (count == 0) {
        return false;
    }
    size_t units = 0;
    for (unsigned long i = 0; i < count; i++) {
        IndexRecord record;
        indexed_record(index, i, &record);
        units += record.name_length;
    }
    Leaf *leaves = static_cast<Leaf *>(malloc(count * sizeof *leaves));
    wchar_t *names = static_cast<wchar_t *>(malloc(units * sizeof *names));
    if (leaves == NULL || names == NULL) {
        free(leaves);
        free(names);
        return false;
    }
    wchar_t *next_name = names;
    for (unsigned long i = 0; i < count; i++) {
        IndexRecord record;
        indexed_record(index, i, &record);
        uint32_t cut = record.name_length;
        while (cut > 0 && read_le16(record.name + 2 * (cut - 1)) != L'\\') {
            cut--;
        }
        leaves[i].folder = record.name;
        leaves[i].folder_length = cut > 0 ? cut - 1 : 0;
        leaves[i].name = next_name;
        leaves[i].name_length = record.name_length - cut;
        leaves[i].record = i;
        for (uint32_t u = cut; u < record.name_length; u++) {
            *next_name++ = static_cast<wchar_t>(read_le16(record.name + 2 * u));
        }
    }
    qsort(leaves, count, sizeof *leaves, compare_leaves);
    FolderRun *runs = static_cast<FolderRun *>(malloc(count * sizeof *runs));
    if (runs == NULL) {
        free(leaves);
        free(names);
        return false;
    }
    FolderListing listing = {};
    listing.launch = launch;
    listing.runs = runs;
    listing.meta = meta;
    for (unsigned long first = 0; first < count;) {
        unsigned long end = first + 1;
        while (end < count && compare_folders(&leaves[end], &leaves[first]) == 0) {
            end++;
        }
        runs[listing.run_count++] = FolderRun{leaves + first, leaves + end};
        first = end;
    }
    run_on_threads(listing.run_count > 1 ? index_check_threads(launch) : 1, list_folders, &listing);
    free(runs);
    free(leaves);
    free(names);
    return true;
}

static void state_file_path(const LaunchShared *launch, wchar_t *path, const char *name)
{
    copy_wide(path, WIDE_PATH_CAPACITY, launch->unpack_directory);
    append_wide(path, WIDE_PATH_CAPACITY, L"\\");
    append_narrow_string(path, name, WIDE_PATH_CAPACITY);
}

// The state file's bytes when it is whole and made for this build's index
// (free() them; *view says what they hold), else null.
static unsigned char *read_state_file(const LaunchShared *launch, unsigned long count, StateFileView *view)
{
    wchar_t path[WIDE_PATH_CAPACITY];
    state_file_path(launch, path, STATE_FILE_NAME);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              /* hTemplateFile */ NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    const size_t size = state_file_size(static_cast<uint32_t>(count));
    unsigned char *state = static_cast<unsigned char *>(malloc(size + 1));
    DWORD got = 0;
    // One byte more than it should hold: a longer file is not this state.
    bool whole = state != NULL && size + 1 <= MAXDWORD &&
                 ReadFile(file, state, static_cast<DWORD>(size + 1), &got, /* lpOverlapped */ NULL) &&
                 got == size;
    CloseHandle(file);
    whole = whole && check_state_file(state, got, view) && view->record_count == count &&
            view->index_crc == launch->build.record_index_crc;
    if (!whole) {
        free(state);
        return NULL;
    }
    return state;
}

bool metadata_matches_state(const LaunchShared *launch, IndexCheckState *index)
{
    unsigned long count = indexed_record_count(launch, index);
    if (count == 0) {
        return false;
    }
    StateFileView view;
    unsigned char *state = read_state_file(launch, count, &view);
    if (state == NULL) {
        return false;
    }
    FileMeta *meta = static_cast<FileMeta *>(calloc(count, sizeof *meta));
    bool same = meta != NULL && gather_metadata(launch, index, meta);
    for (unsigned long i = 0; same && i < count; i++) {
        const StateFileEntry recorded = state_file_entry(view, static_cast<uint32_t>(i));
        IndexRecord record;
        indexed_record(index, i, &record);
        same = meta[i].found && meta[i].size == record.size && meta[i].size == recorded.size &&
               meta[i].write_time == recorded.write_time && meta[i].file_id == recorded.file_id &&
               meta[i].volume == recorded.volume;
    }
    free(meta);
    free(state);
    return same;
}

void record_metadata_state(const LaunchShared *launch, IndexCheckState *index)
{
    unsigned long count = indexed_record_count(launch, index);
    if (count == 0) {
        return;
    }
    const size_t size = state_file_size(static_cast<uint32_t>(count));
    FileMeta *meta = static_cast<FileMeta *>(calloc(count, sizeof *meta));
    unsigned char *state = static_cast<unsigned char *>(malloc(size));
    bool complete = meta != NULL && state != NULL && size <= MAXDWORD && gather_metadata(launch, index, meta);
    for (unsigned long i = 0; complete && i < count; i++) {
        complete = meta[i].found;
        const StateFileEntry entry = {meta[i].size, meta[i].write_time, meta[i].file_id, meta[i].volume};
        put_state_file_entry(state, static_cast<uint32_t>(i), entry);
    }
    if (complete) {
        seal_state_file(state, static_cast<uint32_t>(count), launch->build.record_index_crc);
        wchar_t final_path[WIDE_PATH_CAPACITY];
        state_file_path(launch, final_path, STATE_FILE_NAME);
        // Written aside, then renamed into place: a launcher killed meanwhile
        // leaves the old state file, or none, never part of one. Both go
        // through the one handle, which is the file meant (never a link:
        // payload/target_file.h); a link in the state file's place is
        // replaced, not followed. Either file held for a moment by another
        // program is waited for.
        bool existed = false;
        HANDLE file = open_own_file(launch, STATE_FILE_PARTIAL_NAME, GENERIC_WRITE | DELETE,
                                    /* dwShareMode */ 0, &existed);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            bool whole =
                (!existed || empty_target_file(file)) &&
                WriteFile(file, state, static_cast<DWORD>(size), &written, /* lpOverlapped */ NULL) &&
                written == size;
            bool renamed = false;
            BriefHoldWait rename_wait = {0};
            if (whole) {
                do {
                    renamed = rename_through_handle(file, final_path, /* replace */ true);
                } while (!renamed && wait_out_brief_hold(&rename_wait));
            }
            if (!renamed) {
                delete_through_handle(file);
            }
            CloseHandle(file);
        }
    }
    free(meta);
    free(state);
}
