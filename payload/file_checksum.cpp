// file_checksum.cpp: checksums of files already in the unpack directory.
#include "payload/file_checksum.h"

#include <libdeflate.h>

#include "payload/brief_hold.h"

#include "payload_format.h"

static unsigned char g_read_buffer[FILE_CHECK_READ_SIZE];

// Reads from the file's position to its end through the buffer, stopping as
// soon as more than `size` bytes came. True with the CRC-32 when exactly
// `size` bytes came and no read failed.
static bool read_crc32(HANDLE file, uint64_t size, unsigned char *buffer, DWORD buffer_size, uint32_t *crc)
{
    uint32_t running = 0;
    uint64_t total = 0;
    for (;;) {
        // One byte more than is left, at most the buffer: a read that comes
        // back short has met the end of the file, so a file of the expected
        // size is read with one call per buffer and no call to find the end.
        uint64_t wanted = size - total + 1;
        DWORD asked = wanted < buffer_size ? static_cast<DWORD>(wanted) : buffer_size;
        DWORD got = 0;
        if (!ReadFile(file, buffer, asked, &got, /* lpOverlapped */ NULL)) {
            return false;
        }
        total += got;
        // More than the size found or expected: the file is another one, or
        // grew while it was read, so these bytes describe no one moment of it.
        if (total > size) {
            return false;
        }
        running = libdeflate_crc32(running, buffer, got);
        if (got < asked) {
            break;  // the end of the file
        }
    }
    if (total != size) {
        return false;  // shorter than expected, or it shrank while it was read
    }
    *crc = running;
    return true;
}

bool crc32_of_open_file(HANDLE file, uint64_t size, uint32_t *crc)
{
    return read_crc32(file, size, g_read_buffer, FILE_CHECK_READ_SIZE, crc);
}

// Full sharing: files a running copy of the application holds open can
// still be checked and reused. Sequential scan: read once, front to back.
// A file another program holds for a moment (a scanner, just after it was
// written) is waited for: found in place, it spares a decode and a rewrite.
static HANDLE open_for_check(const wchar_t *path)
{
    BriefHoldWait wait = {0};
    for (;;) {
        HANDLE file =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        /* lpSecurityAttributes */ NULL, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, /* hTemplateFile */ NULL);
        if (file != INVALID_HANDLE_VALUE || !wait_out_brief_hold(&wait)) {
            return file;
        }
    }
}

bool crc32_of_file(const wchar_t *path, uint32_t *crc)
{
    HANDLE file = open_for_check(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The whole 64-bit size: a file of 4 GiB or more is checked whole.
    LARGE_INTEGER size;
    bool whole =
        GetFileSizeEx(file, &size) && crc32_of_open_file(file, static_cast<uint64_t>(size.QuadPart), crc);
    CloseHandle(file);
    return whole;
}

uint32_t current_file_checksum(const wchar_t *path)
{
    uint32_t crc = 0;
    if (!crc32_of_file(path, &crc)) {
        return 0;
    }
    return stored_checksum(crc);
}

bool file_matches(const wchar_t *path, uint64_t size, uint32_t stored, unsigned char *buffer,
                  DWORD buffer_size)
{
    HANDLE file = open_for_check(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    uint32_t crc = 0;
    bool whole = read_crc32(file, size, buffer, buffer_size, &crc);
    CloseHandle(file);
    return whole && stored_checksum(crc) == stored;
}
