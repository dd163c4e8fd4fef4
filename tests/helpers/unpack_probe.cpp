// unpack_probe.cpp: runs the unpack stages of the launcher over a payload blob
// read from a file, into a given directory, under the directory's lock as the
// launcher does, so tests can watch files, streams and the exit code from
// outside.
//
//   unpack_probe.exe <blob file> <unpack directory>
//
// On success prints "main=<main binary path>", "dirs=<memo entries>" and one
// "dir=<entry>" line per remembered directory, then exits 0.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/state.h"
#include "common/wide_buffer.h"
#include "payload/directories.h"
#include "payload/header.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "payload/unpack_lock.h"

static unsigned char *read_whole_file(const wchar_t *path, unsigned long long *length)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return NULL;
    unsigned char *data = static_cast<unsigned char *>(malloc(static_cast<size_t>(size.QuadPart) + 1));
    unsigned long long done = 0;
    while (data != NULL && done < static_cast<unsigned long long>(size.QuadPart)) {
        unsigned long long left = size.QuadPart - done;
        DWORD part = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file, data + done, part, &got, NULL) || got == 0) {
            free(data);
            data = NULL;
            break;
        }
        done += got;
    }
    CloseHandle(file);
    *length = done;
    return data;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fputs("usage: unpack_probe <blob file> <unpack directory>\n", stderr);
        return 100;
    }
    unsigned long long length = 0;
    unsigned char *blob = read_whole_file(argv[1], &length);
    if (blob == NULL) {
        fputs("unpack_probe: cannot read the blob\n", stderr);
        return 101;
    }
    g_payload_cursor.position = blob;
    g_payload_cursor.length = length;
    copy_wide(g_unpack_directory, WIDE_PATH_CAPACITY, argv[2]);

    check_payload_header();
    payload_open();
    acquire_unpack_lock(g_unpack_directory);
    unpack_payload();
    release_unpack_lock();
    payload_close();

    printf("main=%ls\n", g_main_binary_path);
    printf("dirs=%d\n", g_created_directories.count);
    for (int i = 0; i < g_created_directories.count; i++) {
        printf("dir=%ls\n", g_created_directories.entries[i]);
    }
    return 0;
}
