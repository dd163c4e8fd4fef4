// reader_bench.cpp: what the payload reader costs over decoding alone.
//
//   reader_bench BLOB REPS
//
// BLOB is a payload blob ("QJY", one zstd frame, padding, length record),
// mapped read-only as the launcher's image is. Each repetition decodes the
// whole frame twice, in alternating order:
//   reader  through check_payload_header / payload_open / payload_read /
//           payload_close, with the unpacker's reads: name units of 2 bytes,
//           the size (8), the checksum (4), content in 32 KiB chunks
//   bare    ZSTD_decompressStream into a 128 KiB buffer until the frame ends
// Both include making and freeing the decoder context. Prints each time,
// then both times and the ratio reader / bare of each repetition: min /
// median / max.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "payload_format.h"
#include "payload/header.h"
#include "payload/reader.h"

namespace {

struct Outcome {
    double seconds;
    unsigned long long bytes;    // decoded bytes handed out
    unsigned long long records;  // reader only
    unsigned sink;               // keeps the copies from being optimised away
};

PayloadReader g_reader;
unsigned char g_name[2 * RECORD_NAME_CAPACITY];
unsigned char g_chunk[CONTENT_CHUNK_SIZE];

void read_or_end(void *destination, size_t n)
{
    if (failed(payload_read(&g_reader, destination, n))) {
        fprintf(stderr, "the reader found the stream damaged\n");
        exit(3);
    }
}

Outcome run_reader(const Mapped &blob)
{
    Outcome o = {0, 0, 0, 0};
    double start = now_seconds();
    PayloadInput input;
    if (failed(check_payload_header(blob.data, blob.size, &input)) ||
        failed(payload_open(&g_reader, input))) {
        fprintf(stderr, "the reader cannot be opened over the blob\n");
        exit(3);
    }
    for (;;) {
        size_t units = 0;
        unsigned char *unit = g_name;
        read_or_end(unit, 2);
        o.bytes += 2;
        if (unit[0] == 0 && unit[1] == 0) break;
        do {
            unit = g_name + 2 * (++units % RECORD_NAME_CAPACITY);
            read_or_end(unit, 2);
            o.bytes += 2;
        } while (unit[0] != 0 || unit[1] != 0);
        unsigned char size_bytes[8];
        unsigned char checksum[4];
        read_or_end(size_bytes, 8);
        read_or_end(checksum, 4);
        o.bytes += 12;
        unsigned long long size = 0;
        for (int i = 7; i >= 0; i--) size = (size << 8) | size_bytes[i];
        o.sink += checksum[0];
        while (size > 0) {
            size_t n = size < CONTENT_CHUNK_SIZE ? static_cast<size_t>(size) : CONTENT_CHUNK_SIZE;
            read_or_end(g_chunk, n);
            o.sink += g_chunk[n - 1];
            size -= n;
            o.bytes += n;
        }
        o.records++;
    }
    payload_close(&g_reader);
    o.seconds = now_seconds() - start;
    return o;
}

Outcome run_bare(const Mapped &blob)
{
    Outcome o = {0, 0, 0, 0};
    double start = now_seconds();
    o.bytes = bare_decode(blob, &o.sink);
    o.seconds = now_seconds() - start;
    if (o.bytes == 0) exit(3);
    return o;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: reader_bench BLOB REPS\n");
        return 100;
    }
    Mapped blob = map_file(argv[1]);
    if (blob.data == nullptr) {
        fprintf(stderr, "cannot map the blob\n");
        return 101;
    }
    int reps = _wtoi(argv[2]);
    if (reps < 1) reps = 1;

    // One untimed pass of each pages the blob in and warms the heap.
    Outcome reader = run_reader(blob);
    Outcome bare = run_bare(blob);
    if (reader.bytes != bare.bytes) {
        fprintf(stderr, "the reader handed out %llu bytes, the frame holds %llu\n", reader.bytes, bare.bytes);
        return 102;
    }
    printf("blob %llu bytes, frame decodes to %llu bytes, %llu records, %llu windows\n", blob.size,
           bare.bytes, reader.records, (bare.bytes + DECODE_WINDOW_SIZE - 1) / DECODE_WINDOW_SIZE);

    std::vector<double> reader_times, bare_times;
    unsigned sink = reader.sink + bare.sink;
    for (int i = 0; i < reps; i++) {
        // Alternate the order so that neither side always runs second.
        if (i % 2 == 0) {
            reader = run_reader(blob);
            bare = run_bare(blob);
        } else {
            bare = run_bare(blob);
            reader = run_reader(blob);
        }
        sink += reader.sink + bare.sink;
        reader_times.push_back(reader.seconds);
        bare_times.push_back(bare.seconds);
        printf("rep %d: reader %.4f s, bare %.4f s, ratio %.4f\n", i + 1, reader.seconds, bare.seconds,
               reader.seconds / bare.seconds);
    }
    Spread r = spread_of(reader_times), b = spread_of(bare_times);
    print_spread("time reader", r, " s");
    print_spread("time bare  ", b, " s");
    printf("throughput at the median: reader %.1f MB/s, bare %.1f MB/s\n", bare.bytes / r.median / 1e6,
           bare.bytes / b.median / 1e6);
    print_spread("ratio reader / bare", spread_of(ratios_of(reader_times, bare_times)), "");
    printf("(sink %u)\n", sink);
    return 0;
}
