// unpack_bench.cpp: how much a launcher run costs over a realistic tree,
// measured against the least work any run must do, in the same run.
//
//   unpack_bench drive BLOB LIST DIR REPS [LAUNCHER LAUNCHER_DIR]
//       runs the cases below as separate processes, REPS times each, and
//       prints medians and ratios against the baseline
//   unpack_bench unpack BLOB DIR      the launcher's unpack stages into DIR
//   unpack_bench baseline BLOB LIST DIR
//       decodes the whole frame through a 128 KiB window and takes zlib's
//       crc32 of every file in LIST (names relative to DIR) through mappings
//   unpack_bench extract LAUNCHER BLOB
//       copies the payload blob out of a packed launcher
//   unpack_bench noop                 exits at once; run as a launcher's main
//       binary, prints the launcher's memory counters
//   unpack_bench checksums LIST DIR REPS
//       the CRC-32 of every file in LIST, REPS times each way, each run a
//       process: through a read-only mapping of the whole file, and through
//       plain reads of 32 KiB, of the unpacker's size (its own function) and
//       of 1 MiB; prints each way's time as a ratio against the mapping
//   unpack_bench crc WAY LIST DIR     one such run (WAY: map, read32k,
//       unpacker, read1m)
//   unpack_bench lock DIR REPS        taking and giving up DIR's unpack lock,
//       uncontended, as on a warm start: microseconds per pair
//   unpack_bench floor LIST DIR [BLOB]
//       the least a warm start must do: every file in LIST checked the way the
//       launcher checks it against its record index (file_matches, one thread),
//       then this program started as a child ("noop") and waited for; with
//       BLOB, what every warm start did before the launcher had a record
//       index: the whole frame decoded, every file's CRC-32 through a mapping
//       (zlib), then the same child
//
// LIST lines are as zobrel-pack list prints them: size, stored CRC-32 in hex,
// name (relative to DIR, backslashes).
//
// BLOB files are read through a read-only mapping, as the launcher reads its
// image. "unpack", "baseline" and "noop" print key=value lines: seconds (the
// work itself, process start-up excluded) and peak memory in bytes.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/wide_buffer.h"
#include "bench_support.h"
#include "launcher/failure_report.h"
#include "launcher/main_sequence.h"
#include "process_runner.h"
#include "payload/file_checksum.h"
#include "payload/unpack_lock.h"

namespace {

// Peak private bytes, sampled every millisecond: Wine reports the current
// anonymous memory as PeakPagefileUsage, not a peak (Windows keeps a true one).
std::atomic<unsigned long long> g_sampled_private_peak{0};
std::atomic<bool> g_sampling{false};

DWORD WINAPI sample_private_memory(void *)
{
    while (g_sampling) {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
            unsigned long long now = counters.PagefileUsage;
            if (now > g_sampled_private_peak) g_sampled_private_peak = now;
        }
        Sleep(1);
    }
    return 0;
}

HANDLE start_sampling()
{
    g_sampling = true;
    return CreateThread(NULL, 0, sample_private_memory, NULL, 0, NULL);
}

void stop_sampling(HANDLE thread)
{
    g_sampling = false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    printf("sampled_private_peak=%llu\n", g_sampled_private_peak.load());
}

void print_memory(const char *prefix, HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) {
        printf("%smemory=unavailable (error %lu)\n", prefix, GetLastError());
        return;
    }
    printf("%speak_pagefile=%llu\n", prefix, static_cast<unsigned long long>(counters.PeakPagefileUsage));
    printf("%speak_working_set=%llu\n", prefix, static_cast<unsigned long long>(counters.PeakWorkingSetSize));
}

int run_unpack(const std::wstring &blob_path, const std::wstring &dir)
{
    Mapped blob = map_file(blob_path);
    if (blob.data == nullptr) return 101;
    static LaunchContext context;
    HANDLE sampler = start_sampling();
    double start = now_seconds();
    init_launch_context(&context, L"unpack_bench");
    context.build.payload_blob = blob.data;
    context.build.payload_length = blob.size;
    copy_wide(context.unpack_directory, WIDE_PATH_CAPACITY, dir.c_str());
    StageResult result = unpack_stages(&context);
    if (failed(result)) end_with_failure(result, report_on_console);
    printf("seconds=%.6f\n", now_seconds() - start);
    stop_sampling(sampler);
    printf("directories=%d\n", context.directories.count);
    print_memory("", GetCurrentProcess());
    return 0;
}

struct Listed {
    std::wstring name;
    unsigned long long size;
    uint32_t stored;
};

std::vector<Listed> read_listing(const std::wstring &path)
{
    std::vector<Listed> files;
    std::ifstream in{std::filesystem::path(path)};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        unsigned long long size = 0;
        unsigned long stored = 0;
        int name_at = 0;
        if (sscanf(line.c_str(), "%llu %lx %n", &size, &stored, &name_at) < 2 || name_at == 0) continue;
        std::string name = line.substr(static_cast<size_t>(name_at));
        files.push_back(
            {std::wstring(name.begin(), name.end()), size, static_cast<uint32_t>(stored)});  // ASCII names
    }
    return files;
}

std::vector<std::wstring> read_list(const std::wstring &path)
{
    std::vector<std::wstring> names;
    for (const Listed &f : read_listing(path)) names.push_back(f.name);
    return names;
}

// The whole frame of a mapped blob through one 128 KiB window, output
// dropped; the bytes decoded, or 0 on a decode error.
unsigned long long decode_all(const Mapped &blob)
{
    std::vector<unsigned char> window(131072);
    ZSTD_DCtx *dctx = ZSTD_createDCtx();
    ZSTD_inBuffer in = {blob.data + 3, static_cast<size_t>(blob.size - 3), 0};
    unsigned long long decoded = 0;
    for (;;) {
        ZSTD_outBuffer out = {window.data(), window.size(), 0};
        size_t r = ZSTD_decompressStream(dctx, &out, &in);
        if (ZSTD_isError(r)) {
            printf("decode error: %s\n", ZSTD_getErrorName(r));
            decoded = 0;
            break;
        }
        decoded += out.pos;
        if (r == 0) break;
    }
    ZSTD_freeDCtx(dctx);
    return decoded;
}

bool crc_all_by_mapping(const std::vector<std::wstring> &names, const std::wstring &dir, uLong *all);

unsigned char g_floor_buffer[FILE_CHECK_READ_SIZE];

int run_floor(const std::wstring &list_path, const std::wstring &dir, const std::wstring &blob_path)
{
    std::vector<Listed> files = read_listing(list_path);
    if (!blob_path.empty()) {
        // Before the record index: the whole frame decoded, every file's
        // CRC-32 taken through a mapping.
        Mapped blob = map_file(blob_path);
        if (blob.data == nullptr || decode_all(blob) == 0) return 102;
        uLong all = 0;
        if (!crc_all_by_mapping(read_list(list_path), dir, &all)) return 103;
    } else {
        for (const Listed &f : files) {
            std::wstring path = dir + L"\\" + f.name;
            if (!file_matches(path.c_str(), f.size, f.stored, g_floor_buffer, FILE_CHECK_READ_SIZE)) {
                printf("differs: %ls\n", path.c_str());
                return 103;
            }
        }
    }
    wchar_t self[4096];
    GetModuleFileNameW(NULL, self, 4096);
    std::wstring command = quote_argument(self) + L" noop";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) return 104;
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return 0;
}

// Every file's CRC-32 through a read-only mapping, zlib's crc32: how the
// launcher checked existing files before it read them plainly with
// libdeflate. The CRC-32s xor-ed into *all; false when a file is missing.
bool crc_all_by_mapping(const std::vector<std::wstring> &names, const std::wstring &dir, uLong *all)
{
    for (const std::wstring &name : names) {
        std::wstring path = dir + L"\\" + name;
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            printf("missing: %ls\n", path.c_str());
            return false;
        }
        LARGE_INTEGER size;
        GetFileSizeEx(file, &size);
        HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
        if (mapping != NULL) {
            const Bytef *view = static_cast<const Bytef *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
            if (view != NULL) {
                *all ^= crc32(0L, view, static_cast<uInt>(size.QuadPart));
                UnmapViewOfFile(view);
            }
            CloseHandle(mapping);
        }
        CloseHandle(file);
    }
    return true;
}

int run_baseline(const std::wstring &blob_path, const std::wstring &list_path, const std::wstring &dir)
{
    Mapped blob = map_file(blob_path);
    if (blob.data == nullptr) return 101;
    std::vector<std::wstring> names = read_list(list_path);
    HANDLE sampler = start_sampling();
    double start = now_seconds();

    // The whole frame through one 128 KiB window, output dropped.
    unsigned long long decoded = decode_all(blob);
    if (decoded == 0) return 102;

    uLong all = 0;
    if (!crc_all_by_mapping(names, dir, &all)) return 103;
    printf("seconds=%.6f\n", now_seconds() - start);
    stop_sampling(sampler);
    printf("decoded=%llu\nfiles=%zu\ncrc_xor=%08lx\n", decoded, names.size(), all);
    print_memory("", GetCurrentProcess());
    return 0;
}

// The blob of a packed launcher: "QJY" and a zstd frame magic, up to the
// length record that counts the bytes in front of it.
int run_extract(const std::wstring &launcher, const std::wstring &blob_path)
{
    Mapped exe = map_file(launcher);
    if (exe.data == nullptr) return 101;
    static const unsigned char start_magic[7] = {'Q', 'J', 'Y', 0x28, 0xB5, 0x2F, 0xFD};
    const unsigned char *begin = exe.data, *end = exe.data + exe.size;
    const unsigned char *s = std::search(begin, end, start_magic, start_magic + 7);
    if (s == end) return 102;
    for (unsigned long long k = 16; s + k + 8 <= end; k += 16) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; i--) v = (v << 8) | s[k + i];
        if (v == k) {
            std::ofstream out(std::filesystem::path(blob_path), std::ios::binary);
            out.write(reinterpret_cast<const char *>(s), static_cast<std::streamsize>(k + 8));
            printf("blob=%llu\n", k + 8);
            return 0;
        }
    }
    return 103;
}

int run_noop()
{
    // As a launcher's child: the launcher has closed its decoder and waits,
    // so its peak counters are final.
    // Started directly, it shows what an empty process costs.
    wchar_t parent[32];
    if (GetEnvironmentVariableW(L"ZOBREL_ONEFILE_PARENT", parent, 32) == 0) {
        print_memory("", GetCurrentProcess());
        return 0;
    }
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, wcstoul(parent, NULL, 10));
    if (process == NULL) {
        printf("memory=unavailable (error %lu)\n", GetLastError());
        return 0;
    }
    print_memory("", process);
    CloseHandle(process);
    return 0;
}

// ---------------------------------------------------------------------------
// Ways to take an existing file's CRC-32

// Through a read-only mapping of the whole file: no copy, but a file cut
// short while mapped faults the reader.
bool crc_by_mapping(const std::wstring &path, uint32_t *crc)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    uLong c = crc32(0L, Z_NULL, 0);
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    if (mapping != NULL) {
        const Bytef *view = static_cast<const Bytef *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        if (view != NULL) {
            c = crc32(c, view, static_cast<uInt>(size.QuadPart));
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    CloseHandle(file);
    *crc = static_cast<uint32_t>(c);
    return true;
}

// Through plain reads of the given size.
bool crc_by_reads(const std::wstring &path, DWORD size, uint32_t *crc)
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

const wchar_t *const CRC_WAYS[] = {L"map", L"read32k", L"unpacker", L"read1m"};

int run_crc(const std::wstring &way, const std::wstring &list_path, const std::wstring &dir)
{
    std::vector<std::wstring> names = read_list(list_path);
    double start = now_seconds();
    uint32_t all = 0;
    for (const std::wstring &name : names) {
        std::wstring path = dir + L"\\" + name;
        uint32_t crc = 0;
        bool ok = way == L"map"        ? crc_by_mapping(path, &crc)
                  : way == L"read32k"  ? crc_by_reads(path, 32768, &crc)
                  : way == L"read1m"   ? crc_by_reads(path, 1u << 20, &crc)
                  : way == L"unpacker" ? crc32_of_file(path.c_str(), &crc)
                                       : false;
        if (!ok) {
            printf("cannot check %ls\n", path.c_str());
            return 103;
        }
        all ^= crc;
    }
    printf("seconds=%.6f\ncrc_xor=%08x\n", now_seconds() - start, all);
    return 0;
}

int run_lock(const std::wstring &dir, int reps)
{
    const int pairs = 1000;
    std::vector<double> each;
    for (int r = 0; r < reps; r++) {
        double start = now_seconds();
        for (int i = 0; i < pairs; i++) {
            HANDLE lock = NULL;
            if (failed(acquire_unpack_lock(&lock, dir.c_str()))) return 3;
            release_unpack_lock(&lock);
        }
        each.push_back((now_seconds() - start) / pairs * 1e6);
    }
    std::sort(each.begin(), each.end());
    printf("LOCK taking and giving up the unpack lock, uncontended: %.2f / %.2f / %.2f microseconds "
           "(min / median / max of %d runs of %d)\n",
           each.front(), each[each.size() / 2], each.back(), reps, pairs);
    return 0;
}

// ---------------------------------------------------------------------------
// The driver

struct Outcome {
    double wall = 0;                            // process start to end, seconds
    std::map<std::string, std::string> values;  // its key=value lines
};

struct ChildSampler {
    HANDLE process;
    unsigned long long peak = 0;
};

// Polls a child's anonymous memory until it ends (for a program that cannot
// sample itself, the packed launcher). Costs CPU: only for untimed runs.
DWORD WINAPI sample_child_memory(void *argument)
{
    ChildSampler *sampler = static_cast<ChildSampler *>(argument);
    do {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(sampler->process, &counters, sizeof counters) &&
            counters.PagefileUsage > sampler->peak) {
            sampler->peak = counters.PagefileUsage;
        }
    } while (WaitForSingleObject(sampler->process, 1) == WAIT_TIMEOUT);
    return 0;
}

Outcome run_child(const std::wstring &command_line, bool sample_memory = false)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE read_end, write_end;
    CreatePipe(&read_end, &write_end, &sa, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cl = command_line;
    Outcome o;
    double start = now_seconds();
    if (!CreateProcessW(NULL, &cl[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "cannot start %ls\n", command_line.c_str());
        exit(3);
    }
    CloseHandle(write_end);
    ChildSampler sampler = {pi.hProcess};
    HANDLE sampler_thread =
        sample_memory ? CreateThread(NULL, 0, sample_child_memory, &sampler, 0, NULL) : NULL;
    std::string text;
    char buffer[4096];
    DWORD got;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, NULL) && got > 0) text.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    o.wall = now_seconds() - start;
    if (sampler_thread != NULL) {
        WaitForSingleObject(sampler_thread, INFINITE);
        CloseHandle(sampler_thread);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(read_end);
    if (code != 0) {
        fprintf(stderr, "%ls exited with %lu:\n%s\n", command_line.c_str(), code, text.c_str());
        exit(3);
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) o.values[line.substr(0, eq)] = line.substr(eq + 1);
        pos = eol + 1;
    }
    if (sample_memory) o.values["sampled_private_peak"] = std::to_string(sampler.peak);
    return o;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Series {
    std::vector<double> wall, work;
    Outcome last;
    void add(const Outcome &o)
    {
        wall.push_back(o.wall);
        auto it = o.values.find("seconds");
        if (it != o.values.end()) work.push_back(std::stod(it->second));
        last = o;
    }
};

void remove_dir(const std::wstring &dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

double mib(const Outcome &o, const char *key)
{
    auto it = o.values.find(key);
    return it == o.values.end() ? -1 : std::stod(it->second) / 1048576.0;
}

int run_checksums(const std::wstring &list, const std::wstring &dir, int reps)
{
    std::wstring self;
    {
        wchar_t path[4096];
        GetModuleFileNameW(NULL, path, 4096);
        self = path;
    }
    std::map<std::wstring, std::vector<double>> times;
    std::string crc_of_map;
    for (int i = 0; i < reps; i++) {
        for (const wchar_t *way : CRC_WAYS) {
            Outcome o = run_child(quote_argument(self) + L" crc " + way + L" " + quote_argument(list) + L" " +
                                  quote_argument(dir));
            times[way].push_back(std::stod(o.values["seconds"]));
            // Every way must agree on what it read.
            if (crc_of_map.empty()) crc_of_map = o.values["crc_xor"];
            if (o.values["crc_xor"] != crc_of_map) {
                fprintf(stderr, "%ls read something else: %s\n", way, o.values["crc_xor"].c_str());
                return 4;
            }
        }
    }
    printf(
        "checksums of every file, %d runs each way; seconds as min / median / max, then the ratio of each\n"
        "run to the mapping run beside it, min / median / max\n",
        reps);
    for (const wchar_t *way : CRC_WAYS) {
        std::vector<double> t = times[way], ratio;
        for (int i = 0; i < reps; i++) ratio.push_back(times[way][i] / times[L"map"][i]);
        std::sort(t.begin(), t.end());
        std::sort(ratio.begin(), ratio.end());
        printf("RATIO checksum %-9ls / map: %.3f / %.3f / %.3f   (%.3f / %.3f / %.3f s)\n", way,
               ratio.front(), median(ratio), ratio.back(), t.front(), median(t), t.back());
    }
    return 0;
}

int run_drive(int argc, wchar_t **argv)
{
    std::wstring self = argv[0];
    {
        wchar_t path[4096];
        GetModuleFileNameW(NULL, path, 4096);
        self = path;
    }
    std::wstring blob = argv[2], list = argv[3], dir = argv[4];
    int reps = _wtoi(argv[5]);
    std::wstring launcher = argc > 7 ? argv[6] : L"", launcher_dir = argc > 7 ? argv[7] : L"";

    Series cold, warm, base, null_run, l_cold, l_warm, floor, today;
    for (int i = 0; i < reps; i++) {
        remove_dir(dir);
        cold.add(run_child(quote_argument(self) + L" unpack " + quote_argument(blob) + L" " +
                           quote_argument(dir)));
        warm.add(run_child(quote_argument(self) + L" unpack " + quote_argument(blob) + L" " +
                           quote_argument(dir)));
        base.add(run_child(quote_argument(self) + L" baseline " + quote_argument(blob) + L" " +
                           quote_argument(list) + L" " + quote_argument(dir)));
        null_run.add(run_child(quote_argument(self) + L" noop"));
        if (!launcher.empty()) {
            remove_dir(launcher_dir);
            l_cold.add(run_child(quote_argument(launcher) + L" noop"));
            l_warm.add(run_child(quote_argument(launcher) + L" noop"));
            floor.add(run_child(quote_argument(self) + L" floor " + quote_argument(list) + L" " +
                                quote_argument(launcher_dir)));
            today.add(run_child(quote_argument(self) + L" floor " + quote_argument(list) + L" " +
                                quote_argument(launcher_dir) + L" " + quote_argument(blob)));
        }
        fprintf(stderr, "rep %d/%d done\n", i + 1, reps);
    }
    // One more launcher run each way, untimed, watched from outside for memory.
    Outcome l_cold_memory, l_warm_memory;
    if (!launcher.empty()) {
        remove_dir(launcher_dir);
        l_cold_memory = run_child(quote_argument(launcher) + L" noop", true);
        l_warm_memory = run_child(quote_argument(launcher) + L" noop", true);
    }
    if (warm.last.values["directories"] != "0") {
        fprintf(stderr, "the warm run wrote something: %s directories\n",
                warm.last.values["directories"].c_str());
        return 4;
    }

    // The machine is shared: medians and minimums both, the minimum being
    // the run least disturbed by other work.
    auto lo = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
    printf("runs per case: %d; seconds as median / minimum\n", reps);
    printf("baseline (decode + crc32 via mappings): work %.3f / %.3f, process %.3f / %.3f; %s bytes decoded, "
           "%s files\n",
           median(base.work), lo(base.work), median(base.wall), lo(base.wall),
           base.last.values["decoded"].c_str(), base.last.values["files"].c_str());
    printf("empty process (start-up only):           process %.3f / %.3f\n", median(null_run.wall),
           lo(null_run.wall));
    auto line = [&](const char *name, const Series &s, bool has_work) {
        if (has_work) {
            printf("%-22s work %.3f / %.3f, process %.3f / %.3f\n", name, median(s.work), lo(s.work),
                   median(s.wall), lo(s.wall));
        } else {
            printf("%-22s process %.3f / %.3f\n", name, median(s.wall), lo(s.wall));
        }
    };
    auto ratio = [&](const char *name, const std::vector<double> &a, const std::vector<double> &b,
                     const char *note) {
        printf("RATIO %-34s = %.3f (median)  %.3f (minimum)%s\n", name, median(a) / median(b), lo(a) / lo(b),
               note);
    };
    line("unpack probe, warm:", warm, true);
    line("unpack probe, cold:", cold, true);
    ratio("probe warm / baseline, work", warm.work, base.work, "  target <= 1.10");
    ratio("probe warm / baseline, process", warm.wall, base.wall, "");
    ratio("probe cold / baseline, work", cold.work, base.work, "");
    ratio("probe cold / baseline, process", cold.wall, base.wall, "");
    if (!launcher.empty()) {
        line("packed launcher, warm:", l_warm, false);
        line("packed launcher, cold:", l_cold, false);
        ratio("launcher warm / baseline, process", l_warm.wall, base.wall, "  target <= 1.10");
        // The launcher also starts its child, one more process than the baseline.
        std::vector<double> less_child;
        for (size_t i = 0; i < l_warm.wall.size(); i++)
            less_child.push_back(l_warm.wall[i] - median(null_run.wall));
        ratio("launcher warm less a child start", less_child, base.wall, "");
        ratio("launcher cold / baseline, process", l_cold.wall, base.wall, "");
        // Each run against the floor run beside it: min / median / max.
        auto spread = [&](const char *name, const std::vector<double> &a, const std::vector<double> &b,
                          const char *note) {
            std::vector<double> r;
            for (size_t i = 0; i < a.size() && i < b.size(); i++) r.push_back(a[i] / b[i]);
            std::sort(r.begin(), r.end());
            printf("RATIO %-44s min %.3f  median %.3f  max %.3f%s\n", name, r.front(), median(r), r.back(),
                   note);
        };
        line("floor, check + child:", floor, false);
        line("floor, decode + mapped crc32 + child:", today, false);
        spread("launcher warm / (check + child)", l_warm.wall, floor.wall, "  target <= 1.10");
        spread("launcher warm / (decode + crc32 + child)", l_warm.wall, today.wall, "  target <= 0.35");
    }
    const double budget = 128 + 16;
    printf("peak memory, MiB (budget %.0f): private = anonymous memory sampled every 1 ms (by the process\n",
           budget);
    printf("  itself; for the launcher, from outside in one extra untimed run each way);\n");
    printf("  working set = PeakWorkingSetSize, file-backed pages (image, blob, mapped files) included\n");
    auto show = [&](const char *name, const Outcome &o) {
        double sampled = mib(o, "sampled_private_peak");
        char private_text[32] = "     n/a";
        if (sampled >= 0) snprintf(private_text, sizeof private_text, "%8.1f", sampled);
        printf("  %-22s private %s  working set %8.1f  (PeakPagefileUsage as reported %8.1f)\n", name,
               private_text, mib(o, "peak_working_set"), mib(o, "peak_pagefile"));
    };
    show("empty process", null_run.last);
    show("baseline", base.last);
    show("unpack probe, warm", warm.last);
    show("unpack probe, cold", cold.last);
    if (!launcher.empty()) {
        // The launcher's own counters, read by its child once the decoder is
        // freed; the private peak comes from the untimed runs watched from outside.
        l_warm.last.values["sampled_private_peak"] = l_warm_memory.values["sampled_private_peak"];
        l_cold.last.values["sampled_private_peak"] = l_cold_memory.values["sampled_private_peak"];
        show("launcher, warm", l_warm.last);
        show("launcher, cold", l_cold.last);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"unpack" && argc == 4) return run_unpack(argv[2], argv[3]);
    if (mode == L"baseline" && argc == 5) return run_baseline(argv[2], argv[3], argv[4]);
    if (mode == L"extract" && argc == 4) return run_extract(argv[2], argv[3]);
    if (mode == L"noop") return run_noop();
    if (mode == L"crc" && argc == 5) return run_crc(argv[2], argv[3], argv[4]);
    if (mode == L"checksums" && argc == 5) return run_checksums(argv[2], argv[3], _wtoi(argv[4]));
    if (mode == L"lock" && argc == 4) return run_lock(argv[2], _wtoi(argv[3]));
    if (mode == L"floor" && (argc == 4 || argc == 5))
        return run_floor(argv[2], argv[3], argc == 5 ? argv[4] : L"");
    if (mode == L"drive" && (argc == 6 || argc == 8)) return run_drive(argc, argv);
    fputs("usage: unpack_bench drive BLOB LIST DIR REPS [LAUNCHER LAUNCHER_DIR] | unpack BLOB DIR |"
          " baseline BLOB LIST DIR | extract LAUNCHER BLOB | noop | checksums LIST DIR REPS |"
          " crc WAY LIST DIR | lock DIR REPS\n",
          stderr);
    return 100;
}
