// checksum_bench.cpp: how to take the CRC-32 of files already unpacked:
// plain reads (what the unpacker does, since a mapping faults when the file
// is cut short under it) against a read-only mapping of each whole file.
//
//   checksum_bench LIST DIR REPS
//
// Runs checksum_run for every way in turn, REPS times each, each run a
// process, over the files of LIST under DIR; every way must agree on what it
// read. Prints each way's seconds and its time as a ratio against the
// mapping run beside it: min / median / max.
#include <windows.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const wchar_t *const WAYS[] = {L"map", L"read32k", L"unpacker", L"read1m"};

// The value of a key=value line of the output, or "".
std::string value_of(const std::string &output, const std::string &key)
{
    size_t at = output.find(key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 1;
    return output.substr(at, output.find_first_of("\r\n", at) - at);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        fputs("usage: checksum_bench LIST DIR REPS\n", stderr);
        return 100;
    }
    const std::wstring list = argv[1], dir = argv[2];
    int reps = _wtoi(argv[3]);
    if (reps < 1) reps = 1;
    const std::wstring runner = sibling_program(L"checksum_run.exe");
    std::map<std::wstring, std::vector<double>> seconds;
    std::string crc_of_map;
    for (int i = 0; i < reps; i++) {
        for (const wchar_t *way : WAYS) {
            RunOptions options;
            options.command_line = quote_argument(runner) + L" " + way + L" " + quote_argument(list) + L" " +
                                   quote_argument(dir);
            options.timeout_ms = INFINITE;
            RunResult run = run_process(options);
            if (run.exit_code != 0) {
                fprintf(stderr, "checksum_run %ls exited with %lu:\n%s\n", way, run.exit_code,
                        run.standard_output.c_str());
                return 3;
            }
            seconds[way].push_back(std::stod(value_of(run.standard_output, "seconds")));
            // Every way must agree on what it read.
            std::string crc = value_of(run.standard_output, "crc_xor");
            if (crc_of_map.empty()) crc_of_map = crc;
            if (crc != crc_of_map) {
                fprintf(stderr, "%ls read something else: %s\n", way, crc.c_str());
                return 4;
            }
        }
    }
    printf(
        "checksums of every file, %d runs each way, each a process; seconds, then the ratio of each run to\n"
        "the mapping run beside it\n",
        reps);
    for (const wchar_t *way : WAYS) {
        std::string name(way, way + wcslen(way));
        print_spread("time checksum " + name, spread_of(seconds[way]), " s");
        print_spread("ratio checksum " + name + " / map", spread_of(ratios_of(seconds[way], seconds[L"map"])),
                     "");
    }
    return 0;
}
