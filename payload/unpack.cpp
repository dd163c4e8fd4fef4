// unpack.cpp: the file unpacker with checksum reuse.
#include "payload/unpack.h"

#include <windows.h>
#include <libdeflate.h>

#include "common/fatal.h"
#include "common/platform.h"
#include "common/state.h"
#include "common/wide_buffer.h"
#include "payload/directories.h"
#include "payload/file_checksum.h"
#include "payload/index_check.h"
#include "payload/reader.h"
#include "archive_name.h"
#include "little_endian.h"

static wchar_t g_record_name[RECORD_NAME_CAPACITY];
static unsigned char g_chunk_buffer[CONTENT_CHUNK_SIZE];

static uint16_t read_unit()
{
    unsigned char bytes[2];
    payload_read(bytes, sizeof bytes);
    return read_le16(bytes);
}

static uint64_t read_u64()
{
    unsigned char bytes[8];
    payload_read(bytes, sizeof bytes);
    return read_le64(bytes);
}

static uint32_t read_u32()
{
    unsigned char bytes[4];
    payload_read(bytes, sizeof bytes);
    return read_le32(bytes);
}

// Reads the rest of a name whose first unit is already in place and returns
// its length. The packer never stores a name that does not fit the buffer, so
// one that would is damage, reported before anything is written past it.
static size_t read_record_name(uint16_t first_unit)
{
    size_t length = 0;
    g_record_name[length++] = first_unit;
    for (;;) {
        uint16_t unit = read_unit();
        if (unit == 0) {
            g_record_name[length] = L'\0';
            return length;
        }
        if (length + 1 >= RECORD_NAME_CAPACITY) {
            fatal_decode_error();
        }
        g_record_name[length++] = unit;
    }
}

// A name that could reach outside the unpack directory, name a device or
// otherwise not be what the packer stored is damage (or a hand-made archive):
// refused by the rule the packer applies, before anything is written for it.
static void check_record_name(size_t length)
{
    // wchar_t is UTF-16 on Windows: the same units the shared rule reads.
    if (archive_name_problem(reinterpret_cast<const char16_t *>(g_record_name), length) != NULL) {
        fatal_decode_error();
    }
}

static HANDLE open_for_writing(const wchar_t *path)
{
    ensure_parent_directories(path);
    // Write sharing only: nobody reads a file while it is being written.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, /* lpSecurityAttributes */ NULL,
                              CREATE_ALWAYS, /* dwFlagsAndAttributes */ 0, /* hTemplateFile */ NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fatal_open_error(path);
    }
    return file;
}

// Moves the content through the chunk buffer; without a file it is read and
// dropped, since the stream cannot skip. A written file's content is checked
// against the stored checksum as it goes; a reused one was already compared
// on disk.
static void copy_content(HANDLE file, uint64_t size, uint32_t stored)
{
    uint32_t crc = 0;
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size < CONTENT_CHUNK_SIZE ? size : CONTENT_CHUNK_SIZE);
        payload_read(g_chunk_buffer, chunk);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!WriteFile(file, g_chunk_buffer, chunk, &written, /* lpOverlapped */ NULL)) {
                fatal_write_error();
            }
            // A short write is a failed write: the file would be silently cut.
            if (written != chunk) {
                SetLastError(ERROR_WRITE_FAULT);
                fatal_write_error();
            }
            crc = libdeflate_crc32(crc, g_chunk_buffer, chunk);
        }
        size -= chunk;
    }
    // Damage that still decodes: the file holds what the damaged stream gave.
    // It stays, and its checksum differs from the stored one, so no later run
    // reuses it; nothing is started.
    if (file != INVALID_HANDLE_VALUE && stored_checksum(crc) != stored) {
        CloseHandle(file);
        fatal_decode_error();
    }
}

// Whether the record's file must be written: from what the index check
// found, else by the file's current checksum.
static bool needs_writing(unsigned long record, const wchar_t *target, uint32_t stored)
{
    switch (indexed_record_state(record)) {
    case RECORD_MATCHES:
        return false;
    case RECORD_DIFFERS:
        return true;
    case RECORD_UNKNOWN:
        break;
    }
    return current_file_checksum(target) != stored;
}

void unpack_payload()
{
    wchar_t target[WIDE_PATH_CAPACITY];
    for (unsigned long record = 0;; record++) {
        uint16_t first_unit = read_unit();
        if (first_unit == 0) {
            // The index listed other records than the stream holds: damage.
            if (indexed_record_count() != 0 && record != indexed_record_count()) {
                fatal_decode_error();
            }
            payload_expect_end();  // the end marker, which must end the frame
            return;
        }
        size_t name_length = read_record_name(first_unit);
        check_record_name(name_length);

        copy_wide(target, WIDE_PATH_CAPACITY, g_unpack_directory);
        append_wide(target, WIDE_PATH_CAPACITY, L"\\");
        append_wide(target, WIDE_PATH_CAPACITY, g_record_name);
        if (g_main_binary_path[0] == L'\0') {
            copy_wide(g_main_binary_path, WIDE_PATH_CAPACITY, target);
        }

        uint64_t size = read_u64();
        uint32_t stored = read_u32();
        // The index and the stream are two copies of one list: when they
        // disagree the executable is damaged, whichever copy is wrong.
        if (!index_record_agrees(record, g_record_name, name_length, size, stored)) {
            fatal_decode_error();
        }

        HANDLE file = INVALID_HANDLE_VALUE;
        if (needs_writing(record, target, stored)) {
            file = open_for_writing(target);
        }
        copy_content(file, size, stored);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
}
