// unpack.cpp: the file unpacker with checksum reuse.
#include "payload/unpack.h"

#include <windows.h>
#include <zlib.h>

#include "common/fatal.h"
#include "common/platform.h"
#include "common/state.h"
#include "common/wide_buffer.h"
#include "payload/directories.h"
#include "payload/reader.h"
#include "little_endian.h"

static wchar_t g_record_name[RECORD_NAME_CAPACITY];
static unsigned char g_chunk_buffer[CONTENT_CHUNK_SIZE];

// zlib's crc32 takes a 32-bit length: larger files go through it in slices.
static const uint64_t CRC_SLICE = 1u << 30;

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

// Reads the rest of a name whose first unit is already in place.
static void read_record_name(uint16_t first_unit)
{
    size_t length = 0;
    g_record_name[0] = L'\0';
    append_wide_unit(g_record_name, RECORD_NAME_CAPACITY, &length, first_unit);
    for (;;) {
        uint16_t unit = read_unit();
        if (unit == 0) {
            return;
        }
        // A name that does not fit its buffer ends the run before any write past it.
        append_wide_unit(g_record_name, RECORD_NAME_CAPACITY, &length, unit);
    }
}

uint32_t current_file_checksum(const wchar_t *path)
{
    // Full sharing: files a running copy of the application holds open can
    // still be checked and reused.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /* lpSecurityAttributes */ NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              /* hTemplateFile */ NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // The whole 64-bit size: a file of 4 GiB or more is checked whole, and a
    // low half of 0xFFFFFFFF is a size like any other.
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return 0;
    }
    // An empty file cannot be mapped: it counts as no file.
    HANDLE mapping = CreateFileMappingW(file, /* lpFileMappingAttributes */ NULL, PAGE_READONLY, 0, 0,
                                        /* lpName */ NULL);
    if (mapping == NULL) {
        CloseHandle(file);
        return 0;
    }
    const unsigned char *view =
        static_cast<const unsigned char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    if (view == NULL) {
        CloseHandle(mapping);
        CloseHandle(file);
        return 0;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t left = static_cast<uint64_t>(size.QuadPart);
    const unsigned char *p = view;
    while (left > 0) {
        uint64_t slice = left < CRC_SLICE ? left : CRC_SLICE;
        crc = crc32(crc, p, static_cast<uInt>(slice));
        p += slice;
        left -= slice;
    }
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    return stored_checksum(static_cast<uint32_t>(crc));
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
// dropped, since the stream cannot skip.
static void copy_content(HANDLE file, uint64_t size)
{
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
        }
        size -= chunk;
    }
}

void unpack_payload()
{
    wchar_t target[WIDE_PATH_CAPACITY];
    for (;;) {
        uint16_t first_unit = read_unit();
        if (first_unit == 0) {
            return;  // the end marker
        }
        read_record_name(first_unit);

        copy_wide(target, WIDE_PATH_CAPACITY, g_unpack_directory);
        append_wide(target, WIDE_PATH_CAPACITY, L"\\");
        append_wide(target, WIDE_PATH_CAPACITY, g_record_name);
        if (g_main_binary_path[0] == L'\0') {
            copy_wide(g_main_binary_path, WIDE_PATH_CAPACITY, target);
        }

        uint64_t size = read_u64();
        uint32_t stored = read_u32();

        HANDLE file = INVALID_HANDLE_VALUE;
        if (current_file_checksum(target) != stored) {
            file = open_for_writing(target);
        }
        copy_content(file, size);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
}
