// damage_runner.cpp: runs damaged copies of a packed application, sorts
// what each did, and holds each start against what zobrel-pack verify says
// of the same copy. Copies are damaged in one seeded, reproducible way each:
//
//   flip      one bit anywhere in the zstd frame
//   zero4k    4 KiB of the frame (or what is left of it) set to zero
//   cut       the blob cut short inside the frame, the rest of the section zero
//   header    one byte of "QJY" changed, or one bit of the frame's header flipped
//   trailer   the padding or the length record after the frame changed (the
//             launcher never reads them: the copy must run as if intact)
//   constants one bit of the build constants flipped
//
// and, before those, without a seed, the executable itself cut short
// ("truncate"): where each section's raw data starts, where each but the
// last ends, and at places inside the headers. With --launcher-cases N, N
// more copies, after those, each damaged in the launcher's own part:
//
//   code      one bit of the raw data of one of the launcher's sections (its
//             code and data: every section before the payload's)
//   sections  one bit of the launcher's own section headers
//   peheader  one bit of the file header or the optional header
//
// Each copy starts once on an empty unpack folder ({TEMP} points at a fresh
// folder), or with --warm on one that already holds the application's files
// as an earlier start left them, with a time limit, and ends in one class:
//   refused    exit status 2 with exactly one documented message: "Error,
//              couldn't decode attached data.", "... find attached data
//              header.", "... allocate memory." on standard output, or
//              "Error, failed to open '<a path in the unpack folder>' for
//              writing." on standard error
//   unloadable the system would not start the copy (CreateProcessW failed)
//   identical  the application ran (its own exit code) and the unpack folder
//              holds exactly the application's files, byte for byte
//   other      anything else: a crash, a hang, another status or message, or
//              the application run over missing, extra or different files
//
// With --verify PACKER (zobrel-pack.exe; on an empty unpack folder only:
// a warm start decodes nothing, so damage it never reads cannot stop it),
// each copy is also verified first; verify must say OK exactly for the
// copies that end "identical", and fail for those "refused" or
// "unloadable". A copy whose launcher part is damaged is not the launcher it
// was made from, and what its start does cannot be foretold (it may crash,
// hang, or never reach the damage): verify must fail for it unless the
// start ends "identical", and a copy verify fails may end in any class.
// Every disagreement is printed, and the table of the two verdicts at the
// end, per kind of damage.
//
//   damage_runner EXE APP_DIR SEED CASES [--launcher-cases N] [--warm] [--keep DIR] [--verify PACKER]
//
// Prints one line per case that is not "identical", "refused" or
// "unloadable" (but for launcher damage verify failed), or where verify
// disagrees (and, with --keep, saves that copy in DIR for replay), then the
// counts per class and per kind of damage. Exit status 0 only when no case
// is "other" but those and verify agreed on every case.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "build_constants.h"
#include "little_endian.h"
#include "pe_sections.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const DWORD CASE_TIMEOUT_MS = 60000;
// A launcher damaged into a loop is ended sooner: a whole start takes a
// second or two.
const DWORD LAUNCHER_CASE_TIMEOUT_MS = 30000;
const char *const KINDS[] = {"flip",      "zero4k",   "cut",  "header",   "trailer",
                             "constants", "truncate", "code", "sections", "peheader"};
const int KIND_CONSTANTS = 5;
const int KIND_TRUNCATE = 6;
const int KIND_CODE = 7;
const int KIND_SECTIONS = 8;
const int KIND_PE_HEADER = 9;

bool launcher_kind(int kind)
{
    return kind >= KIND_CODE;
}

struct Section {
    size_t offset = 0;  // of its contents in the file
    size_t length = 0;  // its VirtualSize: for the payload, the blob's length L
};

// A section through the PE headers, or length 0 when there is none.
Section section_named(const std::string &exe, const char *name)
{
    Section s;
    PeFileSection found;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(exe.data());
    if (find_pe_section(bytes, exe.size(), name, &found) && pe_section_contents_fit(found, exe.size())) {
        s.offset = found.header.raw_offset;
        s.length = found.header.virtual_size;
    }
    return s;
}

struct Cut {
    size_t at;
    std::string detail;
};

// Where to cut the whole executable: at the start of each section's raw
// data and at the end of each but the last, and inside the headers (the DOS
// header, the file header, the optional header, the section table, the last
// byte of the headers).
std::vector<Cut> executable_cuts(const std::string &exe)
{
    std::vector<Cut> cuts;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(exe.data());
    const size_t pe = read_le32(bytes + 0x3C);
    const size_t optional = pe + 24;
    const size_t table = optional + read_le16(bytes + pe + 20);
    const size_t count = read_le16(bytes + pe + 6);
    const size_t headers = read_le32(bytes + optional + 60);
    cuts.push_back({0x30, "inside the DOS header"});
    cuts.push_back({pe + 10, "inside the file header"});
    cuts.push_back({optional + 64, "inside the optional header"});
    cuts.push_back({table + 40 * count / 2 + 7, "inside the section table"});
    cuts.push_back({headers - 1, "at the last byte of the headers"});
    for (size_t i = 0; i < count; i++) {
        PeSectionHeader h;
        read_pe_section_header(bytes + table + PE_SECTION_HEADER_SIZE * i, &h);
        if (h.raw_size == 0) continue;
        cuts.push_back({h.raw_offset, std::string("at the start of ") + h.name});
        cuts.push_back({h.raw_offset + h.raw_size, std::string("at the end of ") + h.name});
    }
    // The last section's end is the file's own.
    cuts.erase(std::remove_if(cuts.begin(), cuts.end(), [&](const Cut &c) { return c.at >= exe.size(); }),
               cuts.end());
    return cuts;
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

// Damages the copy in the case's own reproducible way: its blob (L bytes at
// payload.offset, the frame's `frame` bytes after the header) or its
// constants block.
Damage damage(std::string &copy, const Section &payload, const Section &constants, size_t frame,
              uint64_t seed, int index)
{
    std::mt19937_64 rng(seed * 1000003u + static_cast<uint64_t>(index));
    auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    char *blob = &copy[payload.offset];
    const size_t length = payload.length;
    Damage d;
    size_t roll = below(100);
    d.kind = roll < 45 ? 0 : roll < 60 ? 1 : roll < 75 ? 2 : roll < 85 ? 3 : roll < 92 ? 4 : KIND_CONSTANTS;
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
        std::fill(blob + at, blob + at + n, '\0');
        snprintf(text, sizeof text, "%zu bytes at %zu", n, at);
        break;
    }
    case 2: {
        size_t at = 3 + below(frame);
        std::fill(blob + at, blob + length, '\0');
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
    case 4: {
        size_t at = 3 + frame + below(length - 3 - frame);
        blob[at] = static_cast<char>(blob[at] ^ (1 + below(255)));
        snprintf(text, sizeof text, "byte %zu of %zu after the frame", at - 3 - frame, length - 3 - frame);
        break;
    }
    default: {
        size_t at = below(constants.length);
        int bit = static_cast<int>(below(8));
        copy[constants.offset + at] = static_cast<char>(copy[constants.offset + at] ^ (1 << bit));
        snprintf(text, sizeof text, "bit %d of constants byte %zu of %zu", bit, at, constants.length);
        break;
    }
    }
    d.detail = text;
    return d;
}

// The launcher's part of the executable: its file and optional headers, its
// own section headers (those before the payload's) and their raw data.
struct LauncherPart {
    size_t headers_from = 0, headers_to = 0;  // file header to the end of the optional header
    size_t table = 0, own_sections = 0;
    std::vector<PeSectionHeader> sections;
    size_t raw_bytes = 0;
};

LauncherPart launcher_part(const std::string &exe)
{
    LauncherPart part;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(exe.data());
    const size_t pe = read_le32(bytes + 0x3C);
    part.headers_from = pe + 4;
    part.headers_to = pe + 24 + read_le16(bytes + pe + 20);
    part.table = part.headers_to;
    const size_t count = read_le16(bytes + pe + 6);
    for (size_t i = 0; i < count; i++) {
        PeSectionHeader h;
        read_pe_section_header(bytes + part.table + PE_SECTION_HEADER_SIZE * i, &h);
        if (strcmp(h.name, PAYLOAD_SECTION_NAME) == 0) break;
        part.sections.push_back(h);
        part.raw_bytes += h.raw_size;
    }
    part.own_sections = part.sections.size();
    return part;
}

// Damages the copy's launcher part in the case's own reproducible way.
Damage damage_launcher(std::string &copy, const LauncherPart &part, uint64_t seed, int index)
{
    std::mt19937_64 rng(seed * 1000003u + 700001u + static_cast<uint64_t>(index));
    auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    Damage d;
    const size_t roll = below(100);
    d.kind = roll < 60 ? KIND_CODE : roll < 85 ? KIND_SECTIONS : KIND_PE_HEADER;
    const int bit = static_cast<int>(below(8));
    size_t at = 0;
    char text[128];
    if (d.kind == KIND_CODE) {
        size_t n = below(part.raw_bytes);
        for (const PeSectionHeader &h : part.sections) {
            if (n < h.raw_size) {
                at = h.raw_offset + n;
                snprintf(text, sizeof text, "bit %d of byte %zu of %s", bit, n, h.name);
                break;
            }
            n -= h.raw_size;
        }
    } else if (d.kind == KIND_SECTIONS) {
        const size_t n = below(PE_SECTION_HEADER_SIZE * part.own_sections);
        at = part.table + n;
        snprintf(text, sizeof text, "bit %d of byte %zu of the header of %s", bit, n % PE_SECTION_HEADER_SIZE,
                 part.sections[n / PE_SECTION_HEADER_SIZE].name);
    } else {
        at = part.headers_from + below(part.headers_to - part.headers_from);
        snprintf(text, sizeof text, "bit %d of byte %zu of the file and optional headers", bit,
                 at - part.headers_from);
    }
    copy[at] = static_cast<char>(copy[at] ^ (1 << bit));
    d.detail = text;
    return d;
}

const char *classify(const RunResult &r, const std::wstring &unpack,
                     const std::map<std::wstring, std::string> &original)
{
    if (r.timed_out) return "other";
    // The system would not start the copy at all. (Windows says
    // ERROR_BAD_EXE_FORMAT; Wine says the same of most cut images, and
    // ERROR_FILE_NOT_FOUND of one whose PE signature is gone, after it looked
    // for a DOS program's runtime.)
    if (r.exit_code == 0xFFFFFFFF && r.standard_error.rfind("run_process: CreateProcessW failed", 0) == 0) {
        return "unloadable";
    }
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

// What zobrel-pack verify said of a copy: OK (exit 0) or not, and its first
// line of complaint.
struct Verdict {
    bool ok = false;
    std::string why;
};

Verdict verify_copy(const std::wstring &packer, const std::wstring &copy)
{
    RunOptions options;
    options.command_line = quote_argument(packer) + L" verify " + quote_argument(copy);
    options.timeout_ms = CASE_TIMEOUT_MS;
    RunResult r = run_process(options);
    Verdict v;
    v.ok = r.exit_code == 0 && !r.timed_out;
    // The first line that is not a warning.
    size_t at = 0;
    while (at < r.standard_error.size() && r.standard_error.compare(at, 22, "zobrel-pack: warning: ") == 0) {
        size_t end = r.standard_error.find('\n', at);
        at = end == std::string::npos ? r.standard_error.size() : end + 1;
    }
    v.why = excerpt(r.standard_error.substr(at));
    if (!v.ok && r.exit_code != 1) v.why = "exit " + std::to_string(r.exit_code) + ": " + v.why;
    return v;
}

// A start agrees with verify when verify says OK exactly for a start over
// the application's whole files; for a damaged launcher, when verify says OK
// only for such a start.
bool agrees(const Verdict &v, const std::string &cls, int kind)
{
    if (v.ok) return cls == "identical";
    return launcher_kind(kind) || cls == "refused" || cls == "unloadable";
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    bool warm = false, usage = argc < 5;
    std::wstring keep, packer;
    int launcher_cases = 0;
    for (int i = 5; i < argc && !usage; i++) {
        std::wstring a = argv[i];
        if (a == L"--launcher-cases" && i + 1 < argc) {
            launcher_cases = _wtoi(argv[++i]);
        } else if (a == L"--warm") {
            warm = true;
        } else if (a == L"--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (a == L"--verify" && i + 1 < argc) {
            packer = argv[++i];
        } else {
            usage = true;
        }
    }
    if (usage || (warm && !packer.empty())) {
        fputs("usage: damage_runner EXE APP_DIR SEED CASES [--launcher-cases N] [--warm] [--keep DIR] "
              "[--verify PACKER]\n"
              "(--verify holds starts on an empty unpack folder against verify: not with --warm)\n",
              stderr);
        return 100;
    }
    const std::wstring exe_path = argv[1], app_dir = argv[2];
    const uint64_t seed = _wcstoui64(argv[3], NULL, 10);
    const int random_cases = _wtoi(argv[4]);

    const std::string exe = read_file(exe_path);
    const Section payload = section_named(exe, PAYLOAD_SECTION_NAME);
    const Section constants = section_named(exe, CONSTANTS_SECTION_NAME);
    if (payload.length < 16 || constants.length < 16) {
        fprintf(stderr, "damage_runner: no payload or constants section in %ls\n", exe_path.c_str());
        return 101;
    }
    const std::string blob = exe.substr(payload.offset, payload.length);
    const size_t frame = ZSTD_findFrameCompressedSize(blob.data() + 3, blob.size() - 3);
    if (ZSTD_isError(frame) || 3 + frame >= blob.size()) {
        fprintf(stderr, "damage_runner: the payload of %ls holds no whole frame\n", exe_path.c_str());
        return 101;
    }
    const std::map<std::wstring, std::string> original = files_under(app_dir);
    if (original.empty() || random_cases < 1) {
        fprintf(stderr, "damage_runner: nothing to compare in %ls, or no cases\n", app_dir.c_str());
        return 101;
    }
    const std::vector<Cut> cuts = executable_cuts(exe);
    const LauncherPart launcher = launcher_part(exe);
    if (launcher.own_sections == 0 || launcher.raw_bytes == 0) {
        fprintf(stderr, "damage_runner: no launcher sections before the payload in %ls\n", exe_path.c_str());
        return 101;
    }
    const int payload_end = static_cast<int>(cuts.size()) + random_cases;
    const int cases = payload_end + launcher_cases;
    printf("%ls: blob %zu bytes, frame %zu bytes, %zu files; %zu cuts of the executable, then seed %llu, "
           "%d cases and %d in the launcher, %s unpack folder%s\n",
           exe_path.c_str(), blob.size(), frame, original.size(), cuts.size(),
           static_cast<unsigned long long>(seed), random_cases, launcher_cases, warm ? "warm" : "empty",
           packer.empty() ? "" : ", each held against verify");

    const std::wstring work = make_scratch_dir(L"damage");
    std::map<std::string, int> by_class;
    std::map<std::string, std::map<std::string, int>> by_kind;
    std::map<std::string, int> refusals;
    std::map<std::string, int> table;  // "OK identical", "fails refused", ...
    std::map<std::string, std::map<std::string, int>> table_by_kind;
    int disagreements = 0, unforetold_other = 0;
    DWORD started = GetTickCount();
    for (int i = 0; i < cases; i++) {
        std::string copy = exe;
        Damage d;
        if (i < static_cast<int>(cuts.size())) {
            d.kind = KIND_TRUNCATE;
            d.detail = cuts[i].detail + " (" + std::to_string(cuts[i].at) + " bytes)";
            copy.resize(cuts[i].at);
        } else if (i < payload_end) {
            d = damage(copy, payload, constants, frame, seed, i - static_cast<int>(cuts.size()));
        } else {
            d = damage_launcher(copy, launcher, seed, i - payload_end);
        }
        // A new file each time: the last copy's image may still be on its
        // way out of memory when this one is written.
        const std::wstring copy_path = work + L"\\case" + std::to_wstring(i) + L".exe";
        write_file(copy_path, copy);
        Verdict verdict;
        if (!packer.empty()) verdict = verify_copy(packer, copy_path);

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
        options.timeout_ms = launcher_kind(d.kind) ? LAUNCHER_CASE_TIMEOUT_MS : CASE_TIMEOUT_MS;
        RunResult r = run_process(options);
        const std::string cls = classify(r, unpack, original);
        by_class[cls]++;
        by_kind[KINDS[d.kind]][cls]++;
        if (cls == "refused" || cls == "unloadable") {
            refusals[excerpt(r.standard_output + r.standard_error).substr(0, 48)]++;
        }
        const bool disagreed = !packer.empty() && !agrees(verdict, cls, d.kind);
        if (!packer.empty()) {
            table[std::string(verdict.ok ? "OK " : "fails ") + cls]++;
            table_by_kind[KINDS[d.kind]][std::string(verdict.ok ? "OK " : "fails ") + cls]++;
        }
        if (disagreed) disagreements++;
        // A damaged launcher that verify refuses may end anyhow.
        const bool foretold = launcher_kind(d.kind) && !packer.empty() && !verdict.ok;
        if (cls == "other" && !foretold) unforetold_other++;
        if ((cls == "other" && !foretold) || disagreed) {
            printf("case %d (%s, %s): %s: exit 0x%08lX%s, output '%s';%s\n", i, KINDS[d.kind],
                   d.detail.c_str(), cls.c_str(), r.exit_code, r.timed_out ? " (timed out)" : "",
                   excerpt(r.standard_output + r.standard_error).c_str(),
                   tree_difference(unpack, original).c_str());
            if (disagreed) {
                printf("  verify disagrees: %s%s\n", verdict.ok ? "OK" : "fails: ", verdict.why.c_str());
            }
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

    printf("cases %d: refused %d, unloadable %d, identical %d, other %d (%.1f s)\n", cases,
           by_class["refused"], by_class["unloadable"], by_class["identical"], by_class["other"],
           (GetTickCount() - started) / 1000.0);
    for (const char *kind : KINDS) {
        auto &k = by_kind[kind];
        printf("  %-9s refused %4d  unloadable %4d  identical %4d  other %4d\n", kind, k["refused"],
               k["unloadable"], k["identical"], k["other"]);
    }
    for (const auto &kv : refusals) printf("  %4d times: %s\n", kv.second, kv.first.c_str());
    if (!packer.empty()) {
        printf("verify against the start, %d cases: %d agree, %d disagree\n", cases, cases - disagreements,
               disagreements);
        printf("  %-13s %10s %10s %10s %10s\n", "", "identical", "refused", "unloadable", "other");
        for (const char *verdict : {"OK", "fails"}) {
            const std::string v = verdict;
            printf("  verify %-6s %10d %10d %10d %10d\n", verdict, table[v + " identical"],
                   table[v + " refused"], table[v + " unloadable"], table[v + " other"]);
        }
        printf("  per kind of damage (verify OK / fails: identical refused unloadable other):\n");
        for (const char *kind : KINDS) {
            auto &k = table_by_kind[kind];
            printf("  %-9s OK %4d %4d %4d %4d   fails %4d %4d %4d %4d\n", kind, k["OK identical"],
                   k["OK refused"], k["OK unloadable"], k["OK other"], k["fails identical"],
                   k["fails refused"], k["fails unloadable"], k["fails other"]);
        }
    }
    return unforetold_other == 0 && disagreements == 0 ? 0 : 1;
}
