// floor_run.cpp: the least work a start must do, as one process, timed from
// inside.
//
//   floor_run LIST DIR [--decode BLOB] [--child] [--sample-memory]
//
// Without --decode: every file in LIST (names relative to DIR) checked the
// way the launcher checks it against its record index (file_matches, one
// thread). With --decode: what a start did before the launcher had a record
// index: the whole frame of BLOB decoded (bare_decode), then every file's
// CRC-32 taken through a mapping (zlib's). With --child: then bench_child
// started and waited for, as a launcher starts its application. Prints
// key=value lines: seconds (the checks alone), files, and with --decode
// decoded and crc_xor; with --sample-memory, sampled_private_peak,
// peak_pagefile and peak_working_set. Exit status 103 when a file is
// missing or differs, 102 when the frame does not decode.
#include <windows.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "payload/file_checksum.h"

static unsigned char g_buffer[FILE_CHECK_READ_SIZE];

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fputs("usage: floor_run LIST DIR [--decode BLOB] [--child] [--sample-memory]\n", stderr);
        return 100;
    }
    std::wstring dir = argv[2], blob_path;
    bool child = false, sample_memory = false;
    for (int i = 3; i < argc; i++) {
        std::wstring option = argv[i];
        if (option == L"--decode" && i + 1 < argc) {
            blob_path = argv[++i];
        } else if (option == L"--child") {
            child = true;
        } else if (option == L"--sample-memory") {
            sample_memory = true;
        } else {
            fprintf(stderr, "floor_run: unknown option %ls\n", option.c_str());
            return 100;
        }
    }
    std::vector<Listed> files = read_listing(argv[1]);
    Mapped blob;
    if (!blob_path.empty()) {
        blob = map_file(blob_path);
        if (blob.data == nullptr) return 101;
    }

    std::unique_ptr<MemorySampler> sampler;
    if (sample_memory) sampler.reset(new MemorySampler(GetCurrentProcess()));
    double start = now_seconds();
    unsigned long long decoded = 0;
    uint32_t crc_xor = 0;
    if (!blob_path.empty()) {
        unsigned sink = 0;
        decoded = bare_decode(blob, &sink);
        if (decoded == 0) return 102;
        for (const Listed &f : files) {
            uint32_t crc = 0;
            if (!crc32_by_mapping(dir + L"\\" + f.name, &crc)) {
                printf("missing: %ls\\%ls\n", dir.c_str(), f.name.c_str());
                return 103;
            }
            crc_xor ^= crc;
        }
    } else {
        for (const Listed &f : files) {
            std::wstring path = dir + L"\\" + f.name;
            if (!file_matches(path.c_str(), f.size, f.stored, g_buffer, FILE_CHECK_READ_SIZE)) {
                printf("differs: %ls\n", path.c_str());
                return 103;
            }
        }
    }
    printf("seconds=%.6f\n", now_seconds() - start);
    if (sampler) printf("sampled_private_peak=%llu\n", sampler->stop());
    printf("files=%zu\n", files.size());
    if (!blob_path.empty()) printf("decoded=%llu\ncrc_xor=%08x\n", decoded, crc_xor);
    if (sample_memory) print_memory_counters("", GetCurrentProcess());

    if (child) {
        std::wstring command = L"\"" + sibling_program(L"bench_child.exe") + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
            return 104;
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return 0;
}
