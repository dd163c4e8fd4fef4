// file_checksum.cpp: checksums of files already in the unpack directory.
#include "payload/file_checksum.h"

#include <zlib.h>

#include "payload_format.h"

static unsigned char g_read_buffer[FILE_CHECK_READ_SIZE];

bool crc32_of_open_file(HANDLE file, uint64_t size, uint32_t *crc)
{
    uLong running = crc32(0L, Z_NULL, 0);
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, g_read_buffer, FILE_CHECK_READ_SIZE, &got, /* lpOverlapped */ NULL)) {
            return false;
        }
        if (got == 0) {
            break;  // the end of the file
        }
        total += got;
        // More than the size found at the start: the file grew while it was
        // read, so these bytes describe no one moment of it.
        if (total > size) {
            return false;
        }
        running = crc32(running, g_read_buffer, got);
    }
    if (total != size) {
        return false;  // it shrank while it was read
    }
    *crc = static_cast<uint32_t>(running);
    return true;
}

bool crc32_of_file(const wchar_t *path, uint32_t *crc)
{
    // Full sharing: files a running copy of the application holds open can
    // still be checked and reused. Sequential scan: read once, front to back.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /* lpSecurityAttributes */ NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, /* hTemplateFile */ NULL);
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
