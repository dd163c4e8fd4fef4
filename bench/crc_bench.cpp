// crc_bench.cpp: CRC-32 throughput of libdeflate (the launcher's) against
// zlib's, over the same 256 MiB buffer in one process, in alternating order.
//
//   crc_bench [REPS]     (default 9)
//
// Prints each repetition's GB/s for both and the ratio libdeflate / zlib
// (min, median, max over the repetitions).
#include <windows.h>
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "bench_support.h"

namespace {

const size_t BUFFER_SIZE = size_t{256} << 20;

double time_zlib(const unsigned char *data, unsigned *sink)
{
    double start = now_seconds();
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < BUFFER_SIZE; at += size_t{1} << 30) {
        crc = crc32(crc, data + at, static_cast<uInt>(std::min(BUFFER_SIZE - at, size_t{1} << 30)));
    }
    *sink ^= static_cast<unsigned>(crc);
    return now_seconds() - start;
}

double time_libdeflate(const unsigned char *data, unsigned *sink)
{
    double start = now_seconds();
    *sink ^= libdeflate_crc32(0, data, BUFFER_SIZE);
    return now_seconds() - start;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    int reps = argc > 1 ? _wtoi(argv[1]) : 9;
    if (reps < 1) reps = 1;
    std::vector<unsigned char> buffer(BUFFER_SIZE);
    unsigned state = 12345;
    for (size_t i = 0; i < BUFFER_SIZE; i++) {
        state = state * 1103515245u + 12345u;
        buffer[i] = static_cast<unsigned char>(state >> 16);
    }
    unsigned sink = 0;
    std::vector<double> fast, slow, ratios;
    for (int i = 0; i < reps; i++) {
        double a, b;
        if (i % 2 == 0) {
            a = time_libdeflate(buffer.data(), &sink);
            b = time_zlib(buffer.data(), &sink);
        } else {
            b = time_zlib(buffer.data(), &sink);
            a = time_libdeflate(buffer.data(), &sink);
        }
        fast.push_back(BUFFER_SIZE / a / 1e9);
        slow.push_back(BUFFER_SIZE / b / 1e9);
        ratios.push_back(b / a);
        printf("rep %d: libdeflate %.2f GB/s, zlib %.2f GB/s\n", i + 1, fast.back(), slow.back());
    }
    print_spread("libdeflate GB/s", spread_of(fast), "");
    print_spread("zlib GB/s      ", spread_of(slow), "");
    print_spread("speed libdeflate / zlib", spread_of(ratios), "");
    printf("(sink %u)\n", sink);
    return 0;
}
