// unpack_probe.cpp: the launcher's unpack stages (unpack_stages) over a
// payload blob read from a file, into a given directory, ending as the
// launcher ends when they fail; for tests that must watch a real process
// (killed while it writes, its streams and exit code).
//
//   unpack_probe.exe <blob file> <unpack directory>
//
// On success prints "main=<main binary path>", "dirs=<memo entries>" and one
// "dir=<entry>" line per remembered directory, then exits 0.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "launcher/launch_context.h"
#include "common/wide_buffer.h"
#include "launcher/failure_report.h"
#include "launcher/main_sequence.h"

static LaunchContext g_launch;

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
    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    context->shared.build.payload_blob = blob;
    context->shared.build.payload_length = length;
    copy_wide(context->shared.unpack_directory, WIDE_PATH_CAPACITY, argv[2]);

    StageResult result = unpack_stages(context);
    if (failed(result)) end_with_failure(result, report_on_console);

    const DirectoryMemo &memo = context->payload.directories;
    printf("main=%ls\n", context->shared.main_binary_path);
    printf("dirs=%d\n", memo.count);
    for (int i = 0; i < memo.count; i++) {
        printf("dir=%ls\n", memo.entries[i]);
    }
    return 0;
}
