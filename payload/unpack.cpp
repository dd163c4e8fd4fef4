// unpack.cpp: the file unpacker with checksum reuse.
#include "payload/unpack.h"

#include <windows.h>
#include <libdeflate.h>

#include "common/wide_buffer.h"
#include "payload/brief_hold.h"
#include "payload/directories.h"
#include "payload/file_checksum.h"
#include "payload/index_check.h"
#include "payload/reader.h"
#include "payload/records.h"
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

static StageResult open_for_writing(LaunchContext *context, const wchar_t *path, HANDLE *file)
{
    StageResult seeded = seed_directory_memo(context);
    if (failed(seeded)) {
        return seeded;
    }
    // Whether the parents could be made shows in the open that follows.
    ensure_parent_directories(&context->directories, path);
    // Write sharing only: nobody reads a file while it is being written. A
    // file another program holds for a moment is waited for, within the bound.
    BriefHoldWait wait = {0};
    do {
        *file =
            CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, /* lpSecurityAttributes */ NULL, CREATE_ALWAYS,
                        /* dwFlagsAndAttributes */ 0, /* hTemplateFile */ NULL);
    } while (*file == INVALID_HANDLE_VALUE && wait_out_brief_hold(&wait));
    if (*file == INVALID_HANDLE_VALUE) {
        copy_wide(context->failed_path, WIDE_PATH_CAPACITY, path);
        return stage_failed(FAILURE_OPEN, 0, context->failed_path);
    }
    return stage_succeeded();
}

// Moves the content through the chunk buffer; without a file it is read and
// dropped, since the stream cannot skip. A written file's content is checked
// against the stored checksum as it goes; a reused one was already compared
// on disk.
static StageResult copy_content(LaunchContext *context, HANDLE file, uint64_t size, uint32_t stored)
{
    PayloadReader *reader = &context->reader;
    UnpackProgress *progress = &context->progress;
    uint32_t crc = 0;
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < CONTENT_CHUNK_SIZE ? size : CONTENT_CHUNK_SIZE);
        StageResult read = payload_read(reader, g_chunk_buffer, chunk);
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
            progress->advanced(context);
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
static bool needs_writing(const LaunchContext *context, unsigned long record, const wchar_t *target,
                          uint32_t stored)
{
    switch (indexed_record_state(context, record)) {
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
static StageResult unpack_record(LaunchContext *context, unsigned long record, size_t name_length)
{
    PayloadReader *reader = &context->reader;
    if (!record_name_is_safe(name_length)) {
        return stage_failed(FAILURE_DECODE);
    }

    wchar_t target[WIDE_PATH_CAPACITY];
    copy_wide(target, WIDE_PATH_CAPACITY, context->unpack_directory);
    append_wide(target, WIDE_PATH_CAPACITY, L"\\");
    append_wide(target, WIDE_PATH_CAPACITY, g_record_name);
    if (record == 0) {
        copy_wide(context->main_binary_path, WIDE_PATH_CAPACITY, target);
    }

    uint64_t size = 0;
    uint32_t stored = 0;
    StageResult step = read_record_fields(reader, &size, &stored);
    if (failed(step)) {
        return step;
    }
    // The index and the stream are two copies of one list: when they
    // disagree the executable is damaged, whichever copy is wrong.
    if (!index_record_agrees(context, record, g_record_name, name_length, size, stored)) {
        return stage_failed(FAILURE_DECODE);
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    if (needs_writing(context, record, target, stored)) {
        step = open_for_writing(context, target, &file);
        if (failed(step)) {
            return step;
        }
    }
    step = copy_content(context, file, size, stored);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    InterlockedIncrement(&context->progress.files_done);
    return step;
}

StageResult unpack_payload(LaunchContext *context)
{
    for (unsigned long record = 0;; record++) {
        size_t name_length = 0;
        StageResult step = read_record_name(&context->reader, g_record_name, &name_length);
        if (failed(step)) {
            return step;
        }
        if (name_length == 0) {
            // The index listed other records than the stream holds: damage.
            unsigned long indexed = indexed_record_count(context);
            if (indexed != 0 && record != indexed) {
                return stage_failed(FAILURE_DECODE);
            }
            return payload_expect_end(&context->reader);  // the end marker, which must end the frame
        }
        step = unpack_record(context, record, name_length);
        if (failed(step)) {
            return step;
        }
    }
}
