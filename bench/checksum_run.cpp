// checksum_run.cpp: one run of the checksum benchmark: the CRC-32 of every
// listed file, one way, timed from inside.
//
//   checksum_run WAY LIST DIR
//
// WAY: map (zlib's crc32 through a read-only mapping of the whole file),
// read32k and read1m (zlib's crc32 over plain reads of 32 KiB or 1 MiB), or
// unpacker (the unpacker's own function, crc32_of_file). Prints seconds and
// crc_xor (every file's CRC-32 xored, for the ways to agree on). Exit status
// 103 when a file cannot be checked.
#include <windows.h>
#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "payload/file_checksum.h"

namespace {

// Through plain reads of the given size.
bool crc32_by_reads(const std::wstring &path, DWORD size, uint32_t *crc)
{
    static std::vector<unsigned char> buffer;
    buffer.resize(size);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    uLong c = crc32(0L, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), size, &got, NULL) && got > 0) c = crc32(c, buffer.data(), got);
    CloseHandle(file);
    *crc = static_cast<uint32_t>(c);
    return true;
}

bool crc32_one_way(const std::wstring &way, const std::wstring &path, uint32_t *crc, bool *known_way)
{
    *known_way = true;
    if (way == L"map") return crc32_by_mapping(path, crc);
    if (way == L"read32k") return crc32_by_reads(path, 32768, crc);
    if (way == L"read1m") return crc32_by_reads(path, 1u << 20, crc);
    if (way == L"unpacker") return crc32_of_file(path.c_str(), crc);
    *known_way = false;
    return false;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        fputs("usage: checksum_run map|read32k|unpacker|read1m LIST DIR\n", stderr);
        return 100;
    }
    std::wstring way = argv[1], dir = argv[3];
    std::vector<Listed> files = read_listing(argv[2]);
    double start = now_seconds();
    uint32_t all = 0;
    for (const Listed &f : files) {
        std::wstring path = dir + L"\\" + f.name;
        uint32_t crc = 0;
        bool known_way = true;
        if (!crc32_one_way(way, path, &crc, &known_way)) {
            if (!known_way) return 100;
            printf("cannot check %ls\n", path.c_str());
            return 103;
        }
        all ^= crc;
    }
    printf("seconds=%.6f\ncrc_xor=%08x\n", now_seconds() - start, all);
    return 0;
}
