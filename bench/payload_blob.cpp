// payload_blob.cpp: copies the payload blob out of a packed launcher, for the
// benchmarks that read a blob the way the launcher does.
//
//   payload_blob LAUNCHER BLOB
//
// Finds the blob by its start ("QJY" and a zstd frame magic) and its length
// record (the count of the blob's bytes before it, at a multiple of 16).
// Prints blob=<length>. Exit status 102 or 103 when no blob is found.
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "bench_support.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fputs("usage: payload_blob LAUNCHER BLOB\n", stderr);
        return 100;
    }
    Mapped exe = map_file(argv[1]);
    if (exe.data == nullptr) return 101;
    static const unsigned char start_magic[7] = {'Q', 'J', 'Y', 0x28, 0xB5, 0x2F, 0xFD};
    const unsigned char *begin = exe.data, *end = exe.data + exe.size;
    const unsigned char *s = std::search(begin, end, start_magic, start_magic + 7);
    if (s == end) return 102;
    for (unsigned long long k = 16; s + k + 8 <= end; k += 16) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; i--) v = (v << 8) | s[k + i];
        if (v == k) {
            std::ofstream out(std::filesystem::path(argv[2]), std::ios::binary);
            out.write(reinterpret_cast<const char *>(s), static_cast<std::streamsize>(k + 8));
            printf("blob=%llu\n", k + 8);
            return 0;
        }
    }
    return 103;
}
