// damage_runner.cpp: runs damaged copies of a packed application and sorts
// what each did. Every copy differs from the packed executable only inside
// its payload section (.zobrel, found through the section table, its
// VirtualSize the blob's length), damaged in one seeded, reproducible way:
//
//   flip      one bit anywhere in the zstd frame
//   zero4k    4 KiB of the frame (or what is left of it) set to zero
//   cut       the blob cut short inside the frame, the rest of the section zero
//   header    one byte of "QJY" changed, or one bit of the frame's header flipped
//   trailer   the padding or the length record after the frame changed (the
//             launcher never reads them: the copy must run as if intact)
//
// Each copy starts once on an empty unpack folder ({TEMP} points at a fresh
// folder), or with --warm on one that already holds the application's files
// as an earlier start left them, with a time limit, and ends in one class:
//   refused    exit status 2 with exactly one documented message: "Error,
//              couldn't decode attached data.", "... find attached data
//              header.", "... allocate memory." on standard output, or
//              "Error, failed to open '<a path in the unpack folder>' for
//              writing." on standard error
//   identical  the application ran (its own exit code) and the unpack folder
//              holds exactly the application's files, byte for byte
//   other      anything else: a crash, a hang, another status or message, or
//              the application run over missing, extra or different files
//
//   damage_runner EXE APP_DIR SEED CASES [--warm] [--keep DIR]
//
// Prints one line per case that is not "identical" or "refused" (and, with
// --keep, saves that copy in DIR for replay), then the counts per class and
// per kind of damage. Exit status 0 only when no case is "other".
#include <windows.h>
#include <stdio.h>
#include <zstd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "build_constants.h"
#include "pe_sections.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const DWORD CASE_TIMEOUT_MS = 60000;
const char *const KINDS[] = {"flip", "zero4k", "cut", "header", "trailer"};

struct Section {
    size_t offset = 0;  // of the blob in the file
    size_t length = 0;  // the blob's length L
};

// The payload section through the PE headers, or length 0 when there is none.
Section payload_section(const std::string &exe)
{
    Section s;
    PeFileSection found;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(exe.data());
    if (find_pe_section(bytes, exe.size(), PAYLOAD_SECTION_NAME, &found) &&
        pe_section_contents_fit(found, exe.size())) {
        s.offset = found.header.raw_offset;
        s.length = found.header.virtual_size;
    }
    return s;
}

std::map<std::wstring, std::string> files_under(const std::wstring &dir)
{
    std::map<std::wstring, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) {
            out[std::filesystem::relative(it->path(), dir).wstring()] = read_file(it->path().wstring());
        }
    }
    return out;
}

struct Damage {
    int kind = 0;
    std::string detail;
};

// Damages the blob (blob[0, L) of the copy) in the case's own reproducible way.
Damage damage(std::string &blob, size_t frame, uint64_t seed, int index)
{
    std::mt19937_64 rng(seed * 1000003u + static_cast<uint64_t>(index));
    auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    Damage d;
    size_t roll = below(100);
    d.kind = roll < 50 ? 0 : roll < 65 ? 1 : roll < 80 ? 2 : roll < 90 ? 3 : 4;
    char text[96];
    switch (d.kind) {
    case 0: {
        size_t at = 3 + below(frame);
        int bit = static_cast<int>(below(8));
        blob[at] = static_cast<char>(blob[at] ^ (1 << bit));
        snprintf(text, sizeof text, "bit %d of byte %zu", bit, at);
        break;
    }
    case 1: {
        size_t at = 3 + below(frame);
        size_t n = std::min<size_t>(4096, 3 + frame - at);
        std::fill(blob.begin() + at, blob.begin() + at + n, '\0');
        snprintf(text, sizeof text, "%zu bytes at %zu", n, at);
        break;
    }
    case 2: {
        size_t at = 3 + below(frame);
        std::fill(blob.begin() + at, blob.end(), '\0');
        snprintf(text, sizeof text, "at %zu of %zu", at, 3 + frame);
        break;
    }
    case 3: {
        if (below(2) == 0) {
            size_t at = below(3);
            blob[at] = static_cast<char>(blob[at] + 1 + below(255));
            snprintf(text, sizeof text, "payload header byte %zu", at);
        } else {
            // The frame header: magic, descriptor, window (no optional fields here).
            size_t at = 3 + below(6);
            int bit = static_cast<int>(below(8));
            blob[at] = static_cast<char>(blob[at] ^ (1 << bit));
            snprintf(text, sizeof text, "bit %d of frame header byte %zu", bit, at - 3);
        }
        break;
    }
    default: {
        size_t at = 3 + frame + below(blob.size() - 3 - frame);
        blob[at] = static_cast<char>(blob[at] ^ (1 + below(255)));
        snprintf(text, sizeof text, "byte %zu of %zu after the frame", at - 3 - frame,
                 blob.size() - 3 - frame);
        break;
    }
    }
    d.detail = text;
    return d;
}

const char *classify(const RunResult &r, const std::wstring &unpack,
                     const std::map<std::wstring, std::string> &original)
{
    if (r.timed_out) return "other";
    if (r.exit_code == APP_EXIT_CODE) {
        return r.standard_output.empty() && r.standard_error.empty() && files_under(unpack) == original
                   ? "identical"
                   : "other";
    }
    if (r.exit_code != 2) return "other";
    static const char *const plain[] = {"Error, couldn't decode attached data.\r\n",
                                        "Error, couldn't find attached data header.\r\n",
                                        "Error, couldn't allocate memory.\r\n"};
    for (const char *message : plain) {
        if (r.standard_output == message && r.standard_error.empty()) return "refused";
    }
    const std::string open = "Error, failed to open '" + narrow(unpack) + "\\";
    const std::string tail = "' for writing.\r\n";
    const std::string &e = r.standard_error;
    if (r.standard_output.empty() && e.rfind(open, 0) == 0 && e.size() > open.size() + tail.size() &&
        e.compare(e.size() - tail.size(), tail.size(), tail) == 0 && e.find('\n') == e.size() - 1) {
        return "refused";
    }
    return "other";
}

// What the unpack folder holds that the application folder does not, and
// the other way round, in a few words.
std::string tree_difference(const std::wstring &unpack, const std::map<std::wstring, std::string> &original)
{
    std::map<std::wstring, std::string> now = files_under(unpack);
    std::string out;
    for (const auto &f : now) {
        auto o = original.find(f.first);
        if (o == original.end()) {
            out += " extra '" + narrow(f.first) + "'";
        } else if (o->second != f.second) {
            out += " different '" + narrow(f.first) + "'";
        }
    }
    for (const auto &f : original) {
        if (!now.count(f.first)) out += " missing '" + narrow(f.first) + "'";
    }
    return out;
}

std::string excerpt(const std::string &text)
{
    std::string s = text.substr(0, 160);
    for (char &c : s) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return s;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    bool warm = false, usage = argc < 5;
    std::wstring keep;
    for (int i = 5; i < argc && !usage; i++) {
        std::wstring a = argv[i];
        if (a == L"--warm") {
            warm = true;
        } else if (a == L"--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else {
            usage = true;
        }
    }
    if (usage) {
        fputs("usage: damage_runner EXE APP_DIR SEED CASES [--warm] [--keep DIR]\n", stderr);
        return 100;
    }
    const std::wstring exe_path = argv[1], app_dir = argv[2];
    const uint64_t seed = _wcstoui64(argv[3], NULL, 10);
    const int cases = _wtoi(argv[4]);

    const std::string exe = read_file(exe_path);
    const Section section = payload_section(exe);
    if (section.length < 16) {
        fprintf(stderr, "damage_runner: no payload section in %ls\n", exe_path.c_str());
        return 101;
    }
    const std::string blob = exe.substr(section.offset, section.length);
    const size_t frame = ZSTD_findFrameCompressedSize(blob.data() + 3, blob.size() - 3);
    if (ZSTD_isError(frame) || 3 + frame >= blob.size()) {
        fprintf(stderr, "damage_runner: the payload of %ls holds no whole frame\n", exe_path.c_str());
        return 101;
    }
    const std::map<std::wstring, std::string> original = files_under(app_dir);
    if (original.empty() || cases < 1) {
        fprintf(stderr, "damage_runner: nothing to compare in %ls, or no cases\n", app_dir.c_str());
        return 101;
    }
    printf("%ls: blob %zu bytes, frame %zu bytes, %zu files; seed %llu, %d cases, %s unpack folder\n",
           exe_path.c_str(), blob.size(), frame, original.size(), static_cast<unsigned long long>(seed),
           cases, warm ? "warm" : "empty");

    const std::wstring work = make_scratch_dir(L"damage");
    std::map<std::string, int> by_class;
    std::map<std::string, std::map<std::string, int>> by_kind;
    std::map<std::string, int> refusals;
    DWORD started = GetTickCount();
    for (int i = 0; i < cases; i++) {
        std::string damaged_blob = blob;
        Damage d = damage(damaged_blob, frame, seed, i);
        std::string copy = exe;
        copy.replace(section.offset, section.length, damaged_blob);
        // A new file each time: the last copy's image may still be on its
        // way out of memory when this one is written.
        const std::wstring copy_path = work + L"\\case" + std::to_wstring(i) + L".exe";
        write_file(copy_path, copy);

        const std::wstring temp = work + L"\\t" + std::to_wstring(i);
        const std::wstring unpack = temp + L"\\zobrel-damage";
        CreateDirectoryW(temp.c_str(), NULL);
        if (warm) {
            for (const auto &f : original) write_file(unpack + L"\\" + f.first, f.second);
        }
        RunOptions options;
        options.application = copy_path;
        options.command_line = L"app.exe";
        options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
        options.timeout_ms = CASE_TIMEOUT_MS;
        RunResult r = run_process(options);
        const char *cls = classify(r, unpack, original);
        by_class[cls]++;
        by_kind[KINDS[d.kind]][cls]++;
        if (std::string(cls) == "refused")
            refusals[excerpt(r.standard_output + r.standard_error).substr(0, 44)]++;
        if (std::string(cls) == "other") {
            printf("case %d (%s, %s): other: exit 0x%08lX%s, output '%s';%s\n", i, KINDS[d.kind],
                   d.detail.c_str(), r.exit_code, r.timed_out ? " (timed out)" : "",
                   excerpt(r.standard_output + r.standard_error).c_str(),
                   tree_difference(unpack, original).c_str());
            if (!keep.empty()) {
                CreateDirectoryW(keep.c_str(), NULL);
                CopyFileW(
                    copy_path.c_str(),
                    (keep + L"\\case-" + std::to_wstring(seed) + L"-" + std::to_wstring(i) + L".exe").c_str(),
                    FALSE);
            }
        }
        remove_tree(temp);
        DeleteFileW(copy_path.c_str());
        fflush(stdout);
    }
    remove_tree(work);

    printf("cases %d: refused %d, identical %d, other %d (%.1f s)\n", cases, by_class["refused"],
           by_class["identical"], by_class["other"], (GetTickCount() - started) / 1000.0);
    for (const char *kind : KINDS) {
        auto &k = by_kind[kind];
        printf("  %-8s refused %4d  identical %4d  other %4d\n", kind, k["refused"], k["identical"],
               k["other"]);
    }
    for (const auto &kv : refusals) printf("  refused %4d times with: %s\n", kv.second, kv.first.c_str());
    return by_class["other"] == 0 ? 0 : 1;
}
