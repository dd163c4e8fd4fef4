// payload_probe.cpp: runs the payload reader over a blob loaded from a file,
// so tests can watch its fatal ends (stream bytes, exit code) from outside.
//
//   payload_probe.exe BLOB OUT STEP...
//
// The blob file stands for the image's constant data: the cursor points at
// its bytes and its length is the file's size. After the header check the
// probe creates OUT, opens the reader and runs the steps in order:
//   N     one payload_read of N bytes
//   walk  the unpacker's reads up to and including the end marker: name units
//         of 2 bytes, the size (8), the checksum (4), content in chunks of at
//         most 32,768 bytes
// Every byte handed out is appended to OUT and flushed at once, so a test sees
// what arrived before a fatal end. Exit status 0 after payload_close.
// With PROBE_NO_DECODER set, the decoder context cannot be made.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "payload_format.h"
#include "payload/header.h"
#include "payload/reader.h"

static FILE *g_out;

// Linked with --wrap=ZSTD_createDCtx: PROBE_NO_DECODER makes the context
// creation fail, as it does when memory runs out.
extern "C" ZSTD_DCtx *__real_ZSTD_createDCtx(void);
extern "C" ZSTD_DCtx *__wrap_ZSTD_createDCtx(void)
{
    return _wgetenv(L"PROBE_NO_DECODER") != NULL ? NULL : __real_ZSTD_createDCtx();
}

static void read_and_keep(void *destination, unsigned long long n)
{
    payload_read(destination, n);
    fwrite(destination, 1, static_cast<size_t>(n), g_out);
    fflush(g_out);
}

static unsigned long long read_le(int bytes)
{
    unsigned char buffer[8];
    read_and_keep(buffer, bytes);
    unsigned long long value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = (value << 8) | buffer[i];
    return value;
}

static void walk()
{
    static unsigned char chunk[CONTENT_CHUNK_SIZE];
    for (;;) {
        if (read_le(2) == 0) return;  // end marker
        while (read_le(2) != 0) {}
        unsigned long long size = read_le(8);
        read_le(4);
        while (size > 0) {
            size_t n = size < CONTENT_CHUNK_SIZE ? static_cast<size_t>(size) : CONTENT_CHUNK_SIZE;
            read_and_keep(chunk, n);
            size -= n;
        }
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) return 100;
    FILE *in = _wfopen(argv[1], L"rb");
    if (in == NULL) return 101;
    static std::vector<unsigned char> blob;
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) blob.insert(blob.end(), buffer, buffer + got);
    fclose(in);

    g_payload_cursor.position = blob.data();
    g_payload_cursor.length = blob.size();
    check_payload_header();

    g_out = _wfopen(argv[2], L"wb");
    if (g_out == NULL) return 102;
    payload_open();
    std::vector<unsigned char> destination;
    for (int i = 3; i < argc; i++) {
        std::wstring step = argv[i];
        if (step == L"walk") {
            walk();
        } else {
            unsigned long long n = wcstoull(argv[i], NULL, 10);
            destination.assign(static_cast<size_t>(n), 0);
            read_and_keep(destination.data(), n);
        }
    }
    payload_close();
    fclose(g_out);
    return 0;
}
