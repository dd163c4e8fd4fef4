// unpack.cpp: the file unpacker with checksum reuse.
#include "payload/unpack.h"

#include <windows.h>
#include <libdeflate.h>
#include <stdint.h>
#include <stdlib.h>

#include "common/file_identity.h"
#include "common/wide_buffer.h"
#include "payload/directories.h"
#include "payload/file_checksum.h"
#include "payload/index_check.h"
#include "payload/reader.h"
#include "payload/records.h"
#include "payload/target_file.h"
#include "archive_name.h"
#include "payload_format.h"

static wchar_t g_record_name[RECORD_NAME_CAPACITY];
static unsigned char g_chunk_buffer[CONTENT_CHUNK_SIZE];

// A name that could reach outside the unpack directory, name a device or
// otherwise not be what the packer stored is damage (or a hand-made archive):
// refused by the rule the packer applies, before anything is written for it.
static bool record_name_is_safe(size_t length)
{
    // wchar_t is UTF-16 on Windows: the same units the shared rule reads.
    return archive_name_problem(reinterpret_cast<const char16_t *>(g_record_name), length) == NULL;
}

// One file as the file system knows it, whatever its names.
struct FileIdentity {
    uint64_t index;
    bool used;
};

// The files this unpack wrote, by identity, in an open-addressing table of
// a power of two slots kept at least twice as many as its entries: sized
// by the record count when the index gives it, grown otherwise. A file
// opened for writing that is one of them is another name of a file written
// before (a hard link, or a name the file system takes for another that
// the checks before let through): writing it would leave the application
// over the wrong content.
//
// A file's identity is its volume's serial number and its index on that
// volume. Every file written lies in a folder checked to be a real folder
// under the unpack directory (no link, and so no mount point: those are
// reparse points), so all lie on the unpack directory's one volume, and
// the index alone tells them apart. The volume is not asked for each file:
// under Wine that costs a round trip to its mount manager, a millisecond a
// file (common/file_identity.h).
struct WrittenFiles {
    FileIdentity *slots;
    size_t slot_count;
    size_t count;
};

static size_t slot_of(uint64_t index, size_t slot_count)
{
    return static_cast<size_t>((index * 0x9E3779B97F4A7C15ull) >> 17) & (slot_count - 1);
}

// Finds the index's slot: the one that holds it, or the empty one where it goes.
static FileIdentity *find_slot(const WrittenFiles *written, uint64_t index)
{
    size_t at = slot_of(index, written->slot_count);
    while (written->slots[at].used && written->slots[at].index != index) {
        at = (at + 1) & (written->slot_count - 1);
    }
    return &written->slots[at];
}

static bool grow_written_files(WrittenFiles *written, size_t slot_count)
{
    FileIdentity *slots = static_cast<FileIdentity *>(calloc(slot_count, sizeof *slots));
    if (slots == NULL) {
        return false;
    }
    WrittenFiles grown = {slots, slot_count, written->count};
    for (size_t i = 0; i < written->slot_count; i++) {
        if (written->slots[i].used) {
            *find_slot(&grown, written->slots[i].index) = written->slots[i];
        }
    }
    free(written->slots);
    *written = grown;
    return true;
}

// Notes the open file as written; FAILURE_DECODE when it was already,
// FAILURE_MEMORY when the table cannot be had.
static StageResult note_written(LaunchShared *launch, PayloadStage *payload, WrittenFiles *written,
                                HANDLE file)
{
    uint64_t index = 0;
    if (!file_index_of(file, &index)) {
        return stage_failed(FAILURE_WRITE, GetLastError());
    }
    if (2 * (written->count + 1) > written->slot_count) {
        size_t slot_count = written->slot_count == 0 ? 64 : 2 * written->slot_count;
        while (slot_count < 2 * static_cast<size_t>(indexed_record_count(launch, &payload->index))) {
            slot_count *= 2;
        }
        if (!grow_written_files(written, slot_count)) {
            return stage_failed(FAILURE_MEMORY);
        }
    }
    FileIdentity *slot = find_slot(written, index);
    if (slot->used) {
        return stage_failed(FAILURE_DECODE);
    }
    slot->index = index;
    slot->used = true;
    written->count++;
    return stage_succeeded();
}

// Opens the record's target to write it whole: never through a link, never
// a file this unpack already wrote under another name, and emptied only
// once both are known.
static StageResult open_for_writing(LaunchShared *launch, PayloadStage *payload, WrittenFiles *written,
                                    const wchar_t *path, size_t name_length, HANDLE *file)
{
    bool existed = false;
    *file = INVALID_HANDLE_VALUE;
    // Write sharing only: nobody reads a file while it is being written. A
    // file another program holds for a moment is waited for, within the bound.
    if (ensure_folders_in_unpack_directory(launch, &payload->directories, path)) {
        *file = open_target_file(launch, path, g_record_name, name_length, GENERIC_WRITE, FILE_SHARE_WRITE,
                                 &existed);
    }
    if (*file == INVALID_HANDLE_VALUE) {
        copy_wide(launch->failed_path, WIDE_PATH_CAPACITY, path);
        return stage_failed(FAILURE_OPEN, 0, launch->failed_path);
    }
    StageResult noted = note_written(launch, payload, written, *file);
    if (!failed(noted) && existed && !empty_target_file(*file)) {
        noted = stage_failed(FAILURE_WRITE, GetLastError());
    }
    if (failed(noted)) {
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return noted;
}

// Moves the content through the chunk buffer; without a file it is read and
// dropped, since the stream cannot skip. A written file's content is checked
// against the stored checksum as it goes; a reused one was already compared
// on disk.
static StageResult copy_content(PayloadStage *payload, HANDLE file, uint64_t size, uint32_t stored)
{
    PayloadReader *reader = &payload->reader;
    UnpackProgress *progress = &payload->progress;
    uint32_t crc = 0;
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < CONTENT_CHUNK_SIZE ? size : CONTENT_CHUNK_SIZE);
        StageResult read = payload_read(reader, file != INVALID_HANDLE_VALUE ? g_chunk_buffer : NULL, chunk);
        if (failed(read)) {
            return read;
        }
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!WriteFile(file, g_chunk_buffer, chunk, &written, /* lpOverlapped */ NULL)) {
                return stage_failed(FAILURE_WRITE, GetLastError());
            }
            // A short write is a failed write: the file would be silently cut.
            if (written != chunk) {
                return stage_failed(FAILURE_WRITE, ERROR_WRITE_FAULT);
            }
            crc = libdeflate_crc32(crc, g_chunk_buffer, chunk);
        }
        size -= chunk;
        if (progress->advanced != NULL) {
            InterlockedExchangeAdd64(&progress->bytes_done, chunk);
            progress->advanced(progress->listener);
        }
    }
    // Damage that still decodes: the file holds what the damaged stream gave.
    // It stays, and its checksum differs from the stored one, so no later run
    // reuses it; nothing is started.
    if (file != INVALID_HANDLE_VALUE && stored_checksum(crc) != stored) {
        return stage_failed(FAILURE_DECODE);
    }
    return stage_succeeded();
}

// Whether the record's file must be written: from what the index check
// found, else by the file's current checksum.
static bool needs_writing(const LaunchShared *launch, const PayloadStage *payload, unsigned long record,
                          const wchar_t *target, uint32_t stored)
{
    switch (indexed_record_state(launch, &payload->index, record)) {
    case RECORD_MATCHES:
        return false;
    case RECORD_DIFFERS:
        return true;
    case RECORD_UNKNOWN:
        break;
    }
    return current_file_checksum(target) != stored;
}

// One record, its name already read (`name_length` units in the name
// buffer): its size and checksum, then its content, written to its target
// or dropped.
static StageResult unpack_record(LaunchShared *launch, PayloadStage *payload, WrittenFiles *written,
                                 unsigned long record, size_t name_length)
{
    PayloadReader *reader = &payload->reader;
    if (!record_name_is_safe(name_length)) {
        return stage_failed(FAILURE_DECODE);
    }

    wchar_t target[WIDE_PATH_CAPACITY];
    copy_wide(target, WIDE_PATH_CAPACITY, launch->unpack_directory);
    append_wide(target, WIDE_PATH_CAPACITY, L"\\");
    append_wide(target, WIDE_PATH_CAPACITY, g_record_name);
    if (record == 0) {
        copy_wide(launch->main_binary_path, WIDE_PATH_CAPACITY, target);
    }

    uint64_t size = 0;
    uint32_t stored = 0;
    StageResult step = read_record_fields(reader, &size, &stored);
    if (failed(step)) {
        return step;
    }
    // The index and the stream are two copies of one list: when they
    // disagree the executable is damaged, whichever copy is wrong.
    if (!index_record_agrees(launch, &payload->index, record, g_record_name, name_length, size, stored)) {
        return stage_failed(FAILURE_DECODE);
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    if (needs_writing(launch, payload, record, target, stored)) {
        step = open_for_writing(launch, payload, written, target, name_length, &file);
        if (failed(step)) {
            return step;
        }
    }
    step = copy_content(payload, file, size, stored);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    InterlockedIncrement(&payload->progress.files_done);
    return step;
}

static StageResult unpack_records(LaunchShared *launch, PayloadStage *payload, WrittenFiles *written)
{
    for (unsigned long record = 0;; record++) {
        size_t name_length = 0;
        StageResult step = read_record_name(&payload->reader, g_record_name, &name_length);
        if (failed(step)) {
            return step;
        }
        if (name_length == 0) {
            // The index listed other records than the stream holds: damage.
            unsigned long indexed = indexed_record_count(launch, &payload->index);
            if (indexed != 0 && record != indexed) {
                return stage_failed(FAILURE_DECODE);
            }
            return payload_expect_end(&payload->reader);  // the end marker, which must end the frame
        }
        step = unpack_record(launch, payload, written, record, name_length);
        if (failed(step)) {
            return step;
        }
    }
}

StageResult unpack_payload(LaunchShared *launch, PayloadStage *payload)
{
    WrittenFiles written = {};
    StageResult step = unpack_records(launch, payload, &written);
    free(written.slots);
    return step;
}
