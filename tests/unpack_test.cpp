// The unpacker and its directory memo, on real files and directories.
// Whole runs are the launcher's unpack stages (unpack_stages) over a fresh
// launch context in this process, checked by the result they return; the
// message and exit status each result ends the launcher with are
// failure_report_test's. Runs that must be a real process (one killed while
// it writes, one on the launcher's own stack, one whose streams and exit
// code are watched) go through unpack_probe.exe, which runs the same stages.
// The memo and the checksum of existing files are also driven on their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "blob_builder.h"
#include "common/final_path.h"
#include "common/wide_buffer.h"
#include "heap_watch.h"
#include "launcher/main_sequence.h"
#include "payload/directories.h"
#include "payload/file_checksum.h"
#include "payload/unpack.h"
#include "links.h"
#include "payload/unpack_lock.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

// Four bytes whose CRC-32 is 0.
const std::string CRC_ZERO_BYTES("\x9d\x0a\xd9\x6d", 4);

// A whole run of the unpack stages, as the launcher's main sequence runs
// them; what the probe printed once is kept only when the run succeeded.
struct Unpacked {
    StageResult result = {};
    std::wstring detail;             // the result's path, if it names one
    std::wstring main;               // the main binary path
    std::vector<std::wstring> dirs;  // the memo's entries at the end
    int dir_count = -1;
};

std::ostream &operator<<(std::ostream &out, const Unpacked &r)
{
    return out << "result kind " << r.result.kind << ", code " << r.result.code << ", detail "
               << narrow(r.detail);
}

std::unique_ptr<LaunchContext> new_context()
{
    std::unique_ptr<LaunchContext> context(new LaunchContext());
    init_launch_context(context.get(), L"unpack_test");
    return context;
}

Unpacked unpack_into(const std::wstring &dir, const std::string &blob)
{
    std::unique_ptr<LaunchContext> context = new_context();
    context->shared.build.payload_blob = reinterpret_cast<const unsigned char *>(blob.data());
    context->shared.build.payload_length = blob.size();
    copy_wide(context->shared.unpack_directory, WIDE_PATH_CAPACITY, dir.c_str());
    Unpacked r;
    heap_watch_reset();
    {
        HeapWatch watch;
        r.result = unpack_stages(context.get());
    }
    if (r.result.detail != NULL) r.detail = r.result.detail;
    // Nothing of the run is held once it returned, whatever its result, but
    // the lock's claim, which the launcher keeps while its program runs, and
    // the directory memo (its entries are _wcsdup's, which the watch does not
    // see taken).
    EXPECT_EQ(heap_held(), 0u) << "heap blocks the run took are still held";
    EXPECT_EQ(context->shared.unpack_lock, nullptr);
    if (context->shared.unpack_claim != NULL) CloseHandle(context->shared.unpack_claim);
    if (!failed(r.result)) {
        r.main = context->shared.main_binary_path;
        const DirectoryMemo &memo = context->payload.directories;
        r.dir_count = memo.count;
        for (int i = 0; i < memo.count; i++) r.dirs.push_back(memo.entries[i]);
    }
    forget_directories(&context->payload.directories);
    return r;
}

Unpacked unpack_into(const std::wstring &dir, const std::vector<TestRecord> &records)
{
    return unpack_into(dir, build_blob(records));
}

// The same run through unpack_probe.exe.
struct ProbeRun {
    RunResult run;
    std::wstring main;               // the main binary path printed, if any
    std::vector<std::wstring> dirs;  // the memo's entries at the end
    int dir_count = -1;
};

std::wstring blob_dir()
{
    static const std::wstring dir = make_scratch_dir(L"blobs");
    return dir;
}

std::wstring store_blob(const std::string &blob)
{
    static int counter = 0;
    std::wstring path = blob_dir() + L"\\blob" + std::to_wstring(counter++) + L".bin";
    write_file(path, blob);
    return path;
}

std::wstring probe_command(const std::wstring &blob_path, const std::wstring &dir)
{
    return quote_argument(test_program(L"unpack_probe.exe")) + L" " + quote_argument(blob_path) + L" " +
           quote_argument(dir);
}

ProbeRun probe_unpack_into(const std::wstring &dir, const std::string &blob)
{
    std::wstring blob_path = store_blob(blob);
    RunOptions options;
    options.command_line = probe_command(blob_path, dir);
    ProbeRun result;
    result.run = run_process(options);
    DeleteFileW(blob_path.c_str());
    std::wstring out = widen(result.run.standard_output);
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find(L"\r\n", start);
        if (end == std::wstring::npos) end = out.size();
        std::wstring line = out.substr(start, end - start);
        if (line.rfind(L"main=", 0) == 0) result.main = line.substr(5);
        if (line.rfind(L"dirs=", 0) == 0) result.dir_count = std::stoi(line.substr(5));
        if (line.rfind(L"dir=", 0) == 0) result.dirs.push_back(line.substr(4));
        start = end + 2;
    }
    return result;
}

std::string open_error(const std::wstring &path)
{
    return "Error, failed to open '" + narrow(path) + "' for writing.\r\n";
}

uint64_t write_time(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

// 2001-01-01, far from any time a run could leave behind.
const uint64_t OLD_TIME = 126227808000000000ull;

void set_old_write_time(const std::wstring &path)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << narrow(path);
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(OLD_TIME);
    t.dwHighDateTime = static_cast<DWORD>(OLD_TIME >> 32);
    ASSERT_TRUE(SetFileTime(h, NULL, NULL, &t));
    CloseHandle(h);
    ASSERT_EQ(write_time(path), OLD_TIME);
}

bool is_directory(const std::wstring &path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TestRecord record(const std::wstring &name, const std::string &content)
{
    TestRecord r;
    r.name = name;
    r.content = content;
    return r;
}

// ---------------------------------------------------------------------------
// Whole runs

TEST(Unpack, WritesMissingFilesAndParentsExactlyAcrossChunkAndWindowBoundaries)
{
    std::wstring dir = make_scratch_dir(L"fresh");
    // Sizes around the 32 KiB chunk; the last one is larger than the 128 KiB
    // decode window and, behind the others, crosses two window boundaries.
    const size_t sizes[] = {0, 1, 32767, 32768, 32769, 131072 + 40000};
    std::vector<TestRecord> records;
    records.push_back(record(L"main.exe", random_bytes(5000, 1)));
    for (size_t size : sizes) {
        records.push_back(
            record(L"a\\b\\c\\size" + std::to_wstring(size) + L".bin", random_bytes(size, 7 + size)));
    }
    records.push_back(record(L"top\\x.txt", "top"));

    Unpacked r = unpack_into(dir, records);
    ASSERT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(r.main, dir + L"\\main.exe");
    for (const TestRecord &rec : records) {
        SCOPED_TRACE(narrow(rec.name));
        std::wstring path = dir + L"\\" + rec.name;
        ASSERT_TRUE(file_exists(path));
        EXPECT_FALSE(is_directory(path));
        std::string got = read_file(path);
        EXPECT_EQ(got.size(), rec.content.size());
        EXPECT_TRUE(got == rec.content);
    }
    // The first file in a\b\c makes and checks the three levels top down;
    // every later file there costs nothing new. The unpack folder was there
    // already: the home folder was never looked up.
    std::vector<std::wstring> expected = {dir + L"\\a", dir + L"\\a\\b", dir + L"\\a\\b\\c", dir + L"\\top"};
    EXPECT_EQ(r.dirs, expected);
}

struct ExistingCase {
    const wchar_t *name;
    bool exists;
    std::string before;  // existing content
    std::string record;  // content in the archive
    bool rewritten;      // expected: the file was opened for writing
};

TEST(Unpack, ReusesFilesWhoseChecksumMatchesAndRewritesTheOthers)
{
    std::wstring dir = make_scratch_dir(L"existing");
    const std::string same = random_bytes(70000, 3);
    const ExistingCase cases[] = {
        {L"same.bin", true, same, same, false},
        {L"longer-before.bin", true, random_bytes(200000, 4), random_bytes(10000, 5), true},
        {L"same-size.bin", true, random_bytes(4096, 6), random_bytes(4096, 8), true},
        // An empty file is read whole: its checksum is that of empty content,
        // so it is reused like any other matching file.
        {L"empty.bin", true, "", "", false},
        {L"empty-before.bin", true, "", "now full", true},
        {L"empty-now.bin", true, "was full", "", true},
        // CRC-32 0 counts as 1, which is what the packer stores for it.
        {L"crc-zero.bin", true, CRC_ZERO_BYTES, CRC_ZERO_BYTES, false},
        {L"missing\\deep.bin", false, "", "new", true},
    };
    std::vector<TestRecord> records;
    for (const ExistingCase &c : cases) {
        std::wstring path = dir + L"\\" + c.name;
        if (c.exists) {
            write_file(path, c.before);
            set_old_write_time(path);
        }
        records.push_back(record(c.name, c.record));
    }
    ASSERT_EQ(crc32_of(CRC_ZERO_BYTES), 0u);

    Unpacked r = unpack_into(dir, records);
    ASSERT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(r.main, dir + L"\\same.bin");  // the first record, although reused
    for (const ExistingCase &c : cases) {
        SCOPED_TRACE(narrow(c.name));
        std::wstring path = dir + L"\\" + c.name;
        std::string got = read_file(path);
        EXPECT_EQ(got.size(), c.record.size());
        EXPECT_TRUE(got == c.record);
        if (c.exists) {
            if (c.rewritten) {
                EXPECT_NE(write_time(path), OLD_TIME);
            } else {
                EXPECT_EQ(write_time(path), OLD_TIME);
            }
        }
    }
}

TEST(Unpack, RecordStoredWithChecksumZeroIsNeverWrittenButItsContentIsConsumed)
{
    std::wstring dir = make_scratch_dir(L"zero");
    TestRecord zero = record(L"zero-dir\\never.bin", random_bytes(50000, 9));
    zero.override_checksum = true;
    zero.checksum = 0;
    TestRecord after = record(L"after.bin", random_bytes(40000, 10));

    Unpacked r = unpack_into(dir, {zero, after});
    ASSERT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(r.main, dir + L"\\zero-dir\\never.bin");
    EXPECT_FALSE(file_exists(dir + L"\\zero-dir"));
    EXPECT_TRUE(read_file(dir + L"\\after.bin") == after.content);
}

TEST(Unpack, SecondRunOverAnIntactTreeTouchesNothingAndAThirdRestoresOnlyWhatIsGone)
{
    std::wstring dir = make_scratch_dir(L"rerun");
    std::vector<TestRecord> records = {
        record(L"app.exe", random_bytes(100000, 11)),
        record(L"lib\\one.dll", random_bytes(150000, 12)),
        record(L"lib\\sub\\two.dll", random_bytes(3000, 13)),
        record(L"data\\d.txt", "data"),
    };
    std::string blob = build_blob(records);
    Unpacked first = unpack_into(dir, blob);
    ASSERT_FALSE(failed(first.result)) << first;

    std::vector<std::wstring> paths = {dir + L"\\app.exe",
                                       dir + L"\\lib\\one.dll",
                                       dir + L"\\lib\\sub\\two.dll",
                                       dir + L"\\data\\d.txt",
                                       dir + L"\\lib",
                                       dir + L"\\lib\\sub",
                                       dir + L"\\data",
                                       dir};
    for (const std::wstring &p : paths) set_old_write_time(p);

    Unpacked second = unpack_into(dir, blob);
    ASSERT_FALSE(failed(second.result)) << second;
    EXPECT_EQ(second.main, dir + L"\\app.exe");
    // Nothing written, so the memo was never used: not even the home folder
    // was looked up, and no directory was probed.
    EXPECT_EQ(second.dir_count, 0);
    for (const std::wstring &p : paths) {
        SCOPED_TRACE(narrow(p));
        EXPECT_EQ(write_time(p), OLD_TIME);
    }

    ASSERT_TRUE(DeleteFileW((dir + L"\\lib\\sub\\two.dll").c_str()));
    ASSERT_TRUE(RemoveDirectoryW((dir + L"\\lib\\sub").c_str()));
    Unpacked third = unpack_into(dir, blob);
    ASSERT_FALSE(failed(third.result)) << third;
    EXPECT_EQ(third.main, dir + L"\\app.exe");
    EXPECT_TRUE(read_file(dir + L"\\lib\\sub\\two.dll") == records[2].content);
    EXPECT_EQ(write_time(dir + L"\\app.exe"), OLD_TIME);
    EXPECT_EQ(write_time(dir + L"\\lib\\one.dll"), OLD_TIME);
    EXPECT_EQ(write_time(dir + L"\\data\\d.txt"), OLD_TIME);
    // Only the folders on the missing file's way were made or checked, once
    // each, from the top: lib, which is there, and lib\sub.
    EXPECT_EQ(third.dirs, (std::vector<std::wstring>{dir + L"\\lib", dir + L"\\lib\\sub"}));
}

TEST(Unpack, ArchiveWithoutRecordsLeavesTheMainBinaryPathEmpty)
{
    std::wstring dir = make_scratch_dir(L"norecords");
    Unpacked r = unpack_into(dir, std::vector<TestRecord>{});
    ASSERT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(r.main, L"");
    EXPECT_EQ(r.dir_count, 0);
}

// Starts the probe, waits until the file at watched has some bytes, and
// kills the probe at once. True when it was killed while still running.
bool kill_probe_while_writing(const std::wstring &blob_path, const std::wstring &dir,
                              const std::wstring &watched)
{
    std::wstring command = probe_command(blob_path, dir);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return false;
    for (int i = 0; i < 120000; i++) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(watched.c_str(), GetFileExInfoStandard, &data) &&
            (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0)) {
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
        Sleep(1);
    }
    TerminateProcess(pi.hProcess, 77);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 77;
}

TEST(Unpack, RunKilledWhileWritingALargeRecordIsRepairedByTheNextRun)
{
    std::wstring dir = make_scratch_dir(L"killed");
    const size_t big_size = 256u << 20;
    std::vector<TestRecord> records = {record(L"small.exe", "small"),
                                       record(L"big\\big.bin", random_bytes(big_size, 21))};
    std::string blob = build_blob(records, 1);
    std::wstring blob_path = store_blob(blob);
    std::wstring big_path = dir + L"\\big\\big.bin";

    // A busy machine may let the run finish before the kill lands: try again.
    std::string partial;
    for (int attempt = 0; attempt < 3; attempt++) {
        DeleteFileW(big_path.c_str());
        if (!kill_probe_while_writing(blob_path, dir, big_path)) continue;
        partial = read_file(big_path);
        if (partial.size() < big_size) break;
    }
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LT(partial.size(), big_size) << "no run could be killed before it finished the file";
    EXPECT_TRUE(partial == records[1].content.substr(0, partial.size()));

    // The killed run held the unpack lock: this one takes it over at once.
    Unpacked again = unpack_into(dir, blob);
    ASSERT_FALSE(failed(again.result)) << again;
    std::string repaired = read_file(big_path);
    EXPECT_EQ(repaired.size(), big_size);
    EXPECT_TRUE(repaired == records[1].content);
    DeleteFileW(blob_path.c_str());
    remove_tree(dir);
}

TEST(Unpack, TargetsThatCannotBeOpenedForWritingEndTheRunWithAnOpenFailure)
{
    std::wstring dir = make_scratch_dir(L"openfail");
    // A directory where the file should be.
    CreateDirectoryW((dir + L"\\is-dir.bin").c_str(), NULL);
    // A read-only file with other content.
    write_file(dir + L"\\read-only.bin", "old");
    ASSERT_TRUE(SetFileAttributesW((dir + L"\\read-only.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    // A file held open without any sharing (here by this process: sharing
    // is decided per handle, so the unpacker meets it as it would another's).
    write_file(dir + L"\\locked.bin", "old");
    HANDLE locked =
        CreateFileW((dir + L"\\locked.bin").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    // A file where a directory on the way should be.
    write_file(dir + L"\\plain-file", "not a directory");

    // Wine running as root lets a read-only file be opened for writing (the
    // attribute is only a mode bit there): that case can be checked only
    // where the platform itself refuses the write.
    HANDLE probe = CreateFileW((dir + L"\\read-only.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                               OPEN_EXISTING, 0, NULL);
    const bool read_only_enforced = probe == INVALID_HANDLE_VALUE;
    if (!read_only_enforced) {
        CloseHandle(probe);
        std::cout
            << "note: this platform does not refuse writes to read-only files; that case is not checked\n";
    }

    std::vector<const wchar_t *> names = {L"is-dir.bin", L"locked.bin", L"plain-file\\below.bin"};
    if (read_only_enforced) names.push_back(L"read-only.bin");
    for (const wchar_t *name : names) {
        SCOPED_TRACE(narrow(name));
        // A good record first: files before the failing one stay written.
        Unpacked r = unpack_into(dir, {record(L"first.bin", "first"), record(name, "new content")});
        EXPECT_EQ(r.result.kind, FAILURE_OPEN) << r;
        EXPECT_EQ(r.detail, dir + L"\\" + name);
        EXPECT_EQ(read_file(dir + L"\\first.bin"), "first");
        DeleteFileW((dir + L"\\first.bin").c_str());
    }
    CloseHandle(locked);
    if (read_only_enforced) {
        EXPECT_EQ(read_file(dir + L"\\read-only.bin"), "old");
    }
    EXPECT_EQ(read_file(dir + L"\\locked.bin"), "old");
    EXPECT_EQ(read_file(dir + L"\\plain-file"), "not a directory");
    SetFileAttributesW((dir + L"\\read-only.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A link in the unpack folder, where a file to repair is or on its way
// there, is never written through, whatever it leads to: the start ends
// with the open failure naming the file, and what lies outside the folder
// is byte for byte as it was, with nothing made there. Under Wine a link to
// a file lists as a plain file and every write by name reaches its target,
// and a link to nothing or to itself is not listed at all; the checked
// opens see each of them for what it is, as they do on Windows, where a
// link is a reparse point.
TEST(Unpack, ALinkInTheFolderIsNeverWrittenThrough)
{
    struct Case {
        const char *what;
        const wchar_t *link;    // in the unpack folder
        const wchar_t *target;  // in the folder outside; null: the link itself
        bool folder;
        const wchar_t *record;  // the file to write
    } cases[] = {
        {"a link to a file", L"data\\conf.txt", L"file.txt", false, L"data\\conf.txt"},
        {"a link to a full folder", L"lib", L"full", true, L"lib\\x.dll"},
        {"a link to a full folder, a level above", L"lib", L"full", true, L"lib\\sub\\y.dll"},
        {"a link to an empty folder", L"lib", L"empty", true, L"lib\\x.dll"},
        {"a link to nothing", L"data\\conf.txt", L"nothing.txt", false, L"data\\conf.txt"},
        {"a link to itself", L"data\\conf.txt", nullptr, false, L"data\\conf.txt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring scratch = make_scratch_dir(L"links");
        const std::wstring outside = scratch + L"\\outside";
        write_file(outside + L"\\file.txt", "the user's own");
        write_file(outside + L"\\full\\x.dll", "another program's");
        write_file(outside + L"\\full\\sub\\y.dll", "another program's too");
        ASSERT_TRUE(CreateDirectoryW((outside + L"\\empty").c_str(), NULL));
        const std::map<std::wstring, std::string> before = snapshot(outside);

        const std::wstring dir = scratch + L"\\unpack";
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), NULL));
        ASSERT_TRUE(CreateDirectoryW((dir + L"\\data").c_str(), NULL));
        const std::wstring link = dir + L"\\" + c.link;
        make_link(link, c.target != nullptr ? outside + L"\\" + c.target : link, c.folder);

        const std::string blob =
            build_blob({record(L"app.exe", "app"), record(c.record, "the packed content")});
        Unpacked r = unpack_into(dir, blob);
        EXPECT_EQ(r.result.kind, FAILURE_OPEN) << r;
        EXPECT_EQ(r.detail, dir + L"\\" + c.record);
        EXPECT_EQ(read_file(dir + L"\\app.exe"), "app");
        EXPECT_TRUE(snapshot(outside) == before) << "something outside the unpack folder changed";
        // As the launcher ends: the open failure's line and exit status 2.
        ProbeRun ended = probe_unpack_into(dir, blob);
        EXPECT_EQ(ended.run.exit_code, 2u);
        EXPECT_EQ(ended.run.standard_error, open_error(dir + L"\\" + c.record));
        EXPECT_TRUE(snapshot(outside) == before) << "something outside the unpack folder changed";
        remove_link(link);
        remove_tree(scratch);
    }
}

// Two names of one file (a hard link put in the folder) are never both
// written: opening for writing a file this start already wrote is damage,
// and the file keeps what its first name was written with.
TEST(Unpack, AFileWrittenUnderOneNameIsNeverWrittenAgainUnderAnother)
{
    const std::wstring dir = make_scratch_dir(L"two-names");
    write_file(dir + L"\\a.txt", "old");
    ASSERT_TRUE(CreateHardLinkW((dir + L"\\b.txt").c_str(), (dir + L"\\a.txt").c_str(), NULL));
    Unpacked r =
        unpack_into(dir, {record(L"app.exe", "app"), record(L"a.txt", "for a"), record(L"b.txt", "for b")});
    EXPECT_EQ(r.result.kind, FAILURE_DECODE) << r;
    EXPECT_EQ(read_file(dir + L"\\a.txt"), "for a");
    EXPECT_EQ(read_file(dir + L"\\b.txt"), "for a");
    remove_tree(dir);
}

// The probe runs the same stages and ends as the launcher does: the failure's
// line on its stream and exit status 2, with the files before it written.
TEST(Unpack, AFailedRunEndsTheProcessAsTheLauncherDoes)
{
    std::wstring dir = make_scratch_dir(L"probe-ends");
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\is-dir.bin").c_str(), NULL));
    ProbeRun r =
        probe_unpack_into(dir, build_blob({record(L"first.bin", "first"), record(L"is-dir.bin", "x")}));
    EXPECT_EQ(r.run.exit_code, 2u);
    EXPECT_EQ(r.run.standard_error, open_error(dir + L"\\is-dir.bin"));
    EXPECT_EQ(r.run.standard_output, "");
    EXPECT_EQ(read_file(dir + L"\\first.bin"), "first");

    TestRecord damaged = record(L"second.bin", "second");
    damaged.override_checksum = true;
    damaged.checksum = stored_checksum_of("second") ^ 1;
    r = probe_unpack_into(dir, build_blob({record(L"first.bin", "first"), damaged}));
    EXPECT_EQ(r.run.exit_code, 2u);
    EXPECT_EQ(r.run.standard_output, "Error, couldn't decode attached data.\r\n");
    EXPECT_EQ(r.run.standard_error, "");
    remove_tree(dir);
}

// A name of n units: directories of 200 characters, then a file name.
std::wstring long_name(size_t units)
{
    std::wstring name;
    while (units - name.size() > 250) name += std::wstring(199, L'd') + L"\\";
    name += std::wstring(units - name.size() - 4, L'f') + L".bin";
    return name;
}

TEST(Unpack, NameOf1023UnitsIsWrittenAndOneOf1024IsRefusedAsDamage)
{
    std::wstring dir = make_scratch_dir(L"names");
    std::wstring fits = long_name(1023);
    ASSERT_EQ(fits.size(), 1023u);
    Unpacked r = unpack_into(dir, {record(fits, "fits")});
    ASSERT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(r.main, dir + L"\\" + fits);
    EXPECT_EQ(read_file(dir + L"\\" + fits), "fits");

    // No packer stores a longer name: it is damage, reported before anything
    // is written past the name buffer, and (the names read ahead of the
    // first write, as there is no record index here) before any file.
    std::wstring too_long = long_name(1024);
    ASSERT_EQ(too_long.size(), 1024u);
    remove_tree(dir);
    dir = make_scratch_dir(L"names");
    r = unpack_into(dir, {record(L"first.bin", "first"), record(too_long, "too long")});
    EXPECT_EQ(r.result.kind, FAILURE_DECODE) << r;
    EXPECT_FALSE(file_exists(dir + L"\\first.bin"));
    EXPECT_FALSE(file_exists(dir + L"\\" + too_long.substr(0, too_long.rfind(L'\\'))));
    remove_tree(dir);
}

// Every file under dir, relative to it, folders as "name\" entries.
std::vector<std::wstring> tree_of(const std::wstring &dir, const std::wstring &prefix = L"")
{
    std::vector<std::wstring> out;
    for (const FolderEntry &entry : folder_entries(dir)) {
        if (entry.folder) {
            out.push_back(prefix + entry.name + L"\\");
            for (const std::wstring &below : tree_of(dir + L"\\" + entry.name, prefix + entry.name + L"\\"))
                out.push_back(below);
        } else {
            out.push_back(prefix + entry.name);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Unpack, UnsafeNamesAreRefusedBeforeAnythingIsWrittenForThem)
{
    const wchar_t *const names[] = {
        L"..\\..\\x.txt",
        L"sub/../../x.txt",
        L"..\\..\\evil.exe",
        L"\\abs.txt",
        L"\\\\server\\share\\x",
        L"C:\\x.txt",
        L"C:x.txt",
        L"file.txt:stream",
        L"a\\.\\b.txt",
        L"a\\..\\b.txt",
        L".",
        L"..",
        L"a\\\\b.txt",
        L"a\\",
        L"a/b.txt",
        L"bell\x07.txt",
        L"line\nbreak",
        L"CON",
        L"dir\\nul.txt",
        L"Com1.dll",
        L"aux\\x.txt",
        L"conin$",
        L"dot.\\x",
        L"space \\x",
    };
    for (const wchar_t *name : names) {
        for (bool first : {false, true}) {
            SCOPED_TRACE(narrow(name) + (first ? " as the main record" : " after a good record"));
            // The unpack folder sits two levels inside a scratch folder, so
            // that a name climbing out would land where the test can see it.
            std::wstring outer = make_scratch_dir(L"unsafe");
            std::wstring dir = outer + L"\\in\\unpack";
            ASSERT_TRUE(CreateDirectoryW((outer + L"\\in").c_str(), NULL));
            std::vector<TestRecord> records;
            if (!first) records.push_back(record(L"good.txt", "good"));
            records.push_back(record(name, "evil"));
            records.push_back(record(L"after.txt", "after"));

            Unpacked r = unpack_into(dir, records);
            EXPECT_EQ(r.result.kind, FAILURE_DECODE) << r;
            // The unpack folder is made before its lock is taken; nothing
            // is written in it for a name refused.
            std::vector<std::wstring> expected = {L"in\\", L"in\\unpack\\"};
            if (!first) expected.push_back(L"in\\unpack\\good.txt");
            EXPECT_EQ(tree_of(outer), expected);
            remove_tree(outer);
        }
    }
}

TEST(Unpack, AWrittenFileThatDiffersFromItsChecksumIsDamageAndIsNeverReused)
{
    std::wstring dir = make_scratch_dir(L"written-check");
    const std::string content = random_bytes(70000, 51);
    // The stream gives content whose CRC-32 is not the stored one.
    TestRecord damaged = record(L"lib\\damaged.dll", content);
    damaged.override_checksum = true;
    damaged.checksum = crc32_of(content) ^ 0x00010000;
    std::string blob = build_blob({record(L"app.exe", "app"), damaged, record(L"after.txt", "after")});

    for (int run = 0; run < 2; run++) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        Unpacked r = unpack_into(dir, blob);
        EXPECT_EQ(r.result.kind, FAILURE_DECODE) << r;
        EXPECT_EQ(r.main, L"");  // the run ended before anything could start
        // What was written stays, with a checksum that keeps it from reuse:
        // the second run writes it again and refuses again.
        EXPECT_TRUE(read_file(dir + L"\\lib\\damaged.dll") == content);
        EXPECT_FALSE(file_exists(dir + L"\\after.txt"));
        if (run == 1) {
            EXPECT_NE(write_time(dir + L"\\lib\\damaged.dll"), OLD_TIME);
        }
        set_old_write_time(dir + L"\\lib\\damaged.dll");
    }

    // A reused record is not checked again: the file on disk already matched
    // the stored checksum, whatever the stream gives for it.
    write_file(dir + L"\\lib\\damaged.dll", "on disk");
    damaged.checksum = stored_checksum_of("on disk");
    set_old_write_time(dir + L"\\lib\\damaged.dll");
    Unpacked r = unpack_into(dir, {record(L"app.exe", "app"), damaged, record(L"after.txt", "after")});
    EXPECT_FALSE(failed(r.result)) << r;
    EXPECT_EQ(read_file(dir + L"\\lib\\damaged.dll"), "on disk");
    EXPECT_EQ(write_time(dir + L"\\lib\\damaged.dll"), OLD_TIME);
    EXPECT_EQ(read_file(dir + L"\\after.txt"), "after");
    remove_tree(dir);
}

TEST(Unpack, AnEndMarkerThatDoesNotEndTheFrameIsDamage)
{
    // One record that ends exactly at the first decode window's end, then the
    // end marker... or not quite: each case puts bytes after the marker, as
    // damage that turns a name's first unit into 0 would.
    const std::string window_filler = random_bytes(131072 - 16 - 2, 61);
    const std::string two_records = build_archive({record(L"a", "first"), record(L"b", "second")});
    struct Case {
        const char *what;
        std::string archive;
        bool checksum;
    } cases[] = {
        {"bytes in the same window", build_archive({record(L"a", "first")}) + "more", false},
        {"a record after the marker, with zstd's checksum",
         build_archive({record(L"a", "first")}) + two_records.substr(two_records.find("first") + 5), true},
        {"the marker ends the window, more comes in the next one",
         build_archive({record(L"a", window_filler)}) + random_bytes(200000, 62), false},
        {"the same, with zstd's checksum", build_archive({record(L"a", window_filler)}) + "x", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring dir = make_scratch_dir(L"early-end");
        FrameOptions options = {3, 20, c.checksum};
        Unpacked r = unpack_into(dir, wrap_blob(compress_frame(c.archive, options)));
        EXPECT_EQ(r.result.kind, FAILURE_DECODE) << r;
        remove_tree(dir);
    }
    // The marker at a window's end with nothing after it is a good archive.
    std::wstring dir = make_scratch_dir(L"early-end");
    FrameOptions options = {3, 20, true};
    Unpacked r =
        unpack_into(dir, wrap_blob(compress_frame(build_archive({record(L"a", window_filler)}), options)));
    EXPECT_FALSE(failed(r.result)) << r;
    EXPECT_TRUE(read_file(dir + L"\\a") == window_filler);
    remove_tree(dir);
}

// The climb holds no buffer per level: 300 missing levels above the unpack
// folder and 300 more in a name are made in one run on the launcher's 1 MiB
// stack, each level created once and remembered.
TEST(Unpack, ThreeHundredMissingLevelsAboveAndInsideTheUnpackFolder)
{
    std::wstring scratch = make_scratch_dir(L"deep");
    std::wstring dir = scratch;
    for (int i = 0; i < 300; i++) dir += L"\\d";
    std::wstring name;
    for (int i = 0; i < 299; i++) name += L"n\\";
    name += L"file.txt";
    ProbeRun r = probe_unpack_into(dir, build_blob({record(name, "deep")}));
    ASSERT_EQ(r.run.exit_code, 0u) << r.run.standard_output << r.run.standard_error;
    EXPECT_EQ(read_file(dir + L"\\" + name), "deep");
    ASSERT_EQ(r.dir_count, 1 + 300 + 299);  // the home folder, then every level
    ASSERT_EQ(r.dirs.size(), 1u + 300 + 299);
    EXPECT_EQ(r.dirs.back(), dir + L"\\" + name.substr(0, name.rfind(L'\\')));
    remove_tree(scratch);
}

// ---------------------------------------------------------------------------
// In-process: the checksum of an existing file

TEST(CurrentChecksum, ZeroForWhatCannotBeReadWholeAndNeverZeroForAFile)
{
    std::wstring dir = make_scratch_dir(L"checksum");
    const std::string content = random_bytes(FILE_CHECK_READ_SIZE * 2 + 100, 31);
    write_file(dir + L"\\content.bin", content);
    write_file(dir + L"\\empty.bin", "");
    write_file(dir + L"\\crc-zero.bin", CRC_ZERO_BYTES);
    CreateDirectoryW((dir + L"\\dir").c_str(), NULL);

    struct Case {
        const wchar_t *name;
        uint32_t expected;
    } cases[] = {
        {L"content.bin", crc32_of(content)},
        {L"crc-zero.bin", 1},
        {L"empty.bin", 1},  // empty content, stored as 1
        {L"absent.bin", 0},
        {L"dir", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.name));
        EXPECT_EQ(current_file_checksum((dir + L"\\" + c.name).c_str()), c.expected);
    }

    // Other processes' open files are read as long as they share reading.
    HANDLE shared = CreateFileW((dir + L"\\content.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_EQ(current_file_checksum((dir + L"\\content.bin").c_str()), crc32_of(content));
    CloseHandle(shared);
    remove_tree(dir);
}

// A file cut short, or grown, between the size the check starts from and
// the reads: it does not describe one moment of the file, so it is not read
// whole (and the unpacker then writes it again). A mapping of the size first
// found would have read past the file's new end and crashed.
TEST(CurrentChecksum, AFileThatChangesSizeWhileReadIsNotReadWhole)
{
    std::wstring dir = make_scratch_dir(L"checksum-cut");
    std::wstring path = dir + L"\\file.bin";
    const std::string content = random_bytes(FILE_CHECK_READ_SIZE * 3, 41);
    struct Case {
        const char *what;
        uint64_t size_found;  // the size the check starts from
        uint64_t size_now;    // the file's size when it is read
        bool whole;
    } cases[] = {
        {"unchanged", content.size(), content.size(), true},
        {"cut inside the first read", content.size(), 100, false},
        {"cut at a read boundary", content.size(), FILE_CHECK_READ_SIZE, false},
        {"cut to nothing", content.size(), 0, false},
        {"grown", content.size() - 1, content.size(), false},
        {"empty", 0, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path, content.substr(0, static_cast<size_t>(c.size_now)));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        uint32_t crc = 0xDEADBEEF;
        EXPECT_EQ(crc32_of_open_file(file, c.size_found, &crc), c.whole);
        EXPECT_EQ(crc, c.whole ? crc32_of(content.substr(0, static_cast<size_t>(c.size_now))) : 0xDEADBEEF);
        CloseHandle(file);
    }

    // A read that fails part way takes the same way out as one that ends
    // early. It cannot be provoked here: Wine does not let another handle's
    // byte-range lock fail a read, as Windows does.
    remove_tree(dir);
}

// ---------------------------------------------------------------------------
// In-process: the unpack directory's lock

// The lock name of the folder a path leads to; empty when it cannot be
// opened or resolved.
std::wstring lock_name(const std::wstring &path)
{
    HANDLE folder = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE) return L"";
    FinalPath resolved;
    const bool ok = resolve_final_path(folder, &resolved);
    CloseHandle(folder);
    if (!ok) return L"";
    wchar_t name[UNPACK_LOCK_NAME_CAPACITY];
    unpack_lock_name(resolved, name, UNPACK_LOCK_NAME_CAPACITY);
    return name;
}

// The same folder under the drive Wine maps to the Unix root (Z:), as a
// user reaches it through "My Computer"; empty on Windows.
std::wstring through_unix_root(const std::wstring &path)
{
    typedef char *(__cdecl * UnixName)(const wchar_t *);
    UnixName unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) return L"";
    char *name = unix_name(path.c_str());
    std::wstring z = L"Z:" + widen(name);
    HeapFree(GetProcessHeap(), 0, name);
    for (wchar_t &c : z) c = c == L'/' ? L'\\' : c;
    return z;
}

// Every spelling of one folder names one lock: the lock is named after the
// folder's final path, not the text of its path. (On Windows a subst drive
// or a share mapped to a drive letter resolves the same way; Wine has
// neither, but its Z: drive reaches the same folders by another letter.)
TEST(UnpackLock, EverySpellingOfOneFolderNamesOneLock)
{
    const std::wstring scratch = make_scratch_dir(L"lock-names");
    const std::wstring folder = scratch + L"\\Vexor Unal 0.2.0-long-name";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    const std::wstring name = lock_name(folder);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u) << narrow(name);  // the session's own namespace
    EXPECT_LT(name.size(), UNPACK_LOCK_NAME_CAPACITY);

    std::wstring lower = folder;
    for (wchar_t &c : lower) c = towlower(c);
    wchar_t short_form[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(folder.c_str(), short_form, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(short_form), folder) << "the folder has no short name to try";
    const std::wstring link = scratch + L"\\link";
    make_link(link, folder, /* folder */ true);
    struct Spelling {
        const char *what;
        std::wstring path;
    } spellings[] = {
        {"letter case", lower},
        {"trailing backslashes", folder + L"\\\\"},
        {"\\\\?\\", L"\\\\?\\" + folder},
        {"a . part", scratch + L"\\.\\Vexor Unal 0.2.0-long-name"},
        {"a .. part", folder + L"\\..\\Vexor Unal 0.2.0-long-name"},
        {"the short name", short_form},
        {"a symbolic link", link},
        {"another drive", through_unix_root(folder)},
    };
    for (const Spelling &s : spellings) {
        SCOPED_TRACE(s.what);
        if (s.path.empty()) continue;  // another drive: Wine only
        EXPECT_EQ(lock_name(s.path), name) << narrow(s.path);
    }
    ASSERT_TRUE(CreateDirectoryW((folder + L"-2").c_str(), NULL));
    EXPECT_NE(lock_name(folder + L"-2"), name);
    EXPECT_NE(lock_name(scratch), name);
    remove_link(link);
    remove_tree(scratch);
}

struct LockHolder {
    std::wstring name;
    HANDLE taken, release;  // events: the holder has it; the holder may let go
    bool abandon;           // end the thread still holding it
};

DWORD WINAPI hold_lock(void *argument)
{
    LockHolder *h = static_cast<LockHolder *>(argument);
    HANDLE mutex = CreateMutexW(NULL, FALSE, h->name.c_str());
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(h->taken);
    WaitForSingleObject(h->release, INFINITE);
    if (!h->abandon) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

DWORD WINAPI take_and_release(void *argument)
{
    HANDLE lock = NULL;
    FinalPath root;
    StageResult taken = acquire_unpack_lock_of(&lock, static_cast<const wchar_t *>(argument), &root);
    if (failed(taken) || lock == NULL) return 1;
    release_unpack_lock(&lock);
    return lock == NULL ? 0 : 2;
}

// A launcher waits while another holds the lock (here a thread, which a
// mutex treats as any other owner), whatever spelling of the folder each
// uses, and goes on when it is given up or its holder ends without giving
// it up.
TEST(UnpackLock, WaitsForTheHolderAndTakesOverAnAbandonedLockAtOnce)
{
    const std::wstring directory = make_scratch_dir(L"lock-wait");
    wchar_t other_spelling[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(directory.c_str(), other_spelling, MAX_PATH), 0u);
    for (wchar_t *c = other_spelling; *c != L'\0'; c++) *c = towupper(*c);
    for (bool abandon : {false, true}) {
        SCOPED_TRACE(abandon ? "abandoned" : "released");
        LockHolder holder = {lock_name(directory), CreateEventW(NULL, TRUE, FALSE, NULL),
                             CreateEventW(NULL, TRUE, FALSE, NULL), abandon};
        HANDLE holding = CreateThread(NULL, 0, hold_lock, &holder, 0, NULL);
        ASSERT_EQ(WaitForSingleObject(holder.taken, 60000), WAIT_OBJECT_0);
        HANDLE waiting = CreateThread(NULL, 0, take_and_release, other_spelling, 0, NULL);
        // Still waiting after a while: nothing it could do would take this long.
        EXPECT_EQ(WaitForSingleObject(waiting, 500), static_cast<DWORD>(WAIT_TIMEOUT));
        SetEvent(holder.release);
        WaitForSingleObject(holding, INFINITE);
        EXPECT_EQ(WaitForSingleObject(waiting, 60000), WAIT_OBJECT_0);
        DWORD taken = 99;
        EXPECT_TRUE(GetExitCodeThread(waiting, &taken));
        EXPECT_EQ(taken, 0u) << "1: not taken, 2: not given up";
        for (HANDLE h : {holding, waiting, holder.taken, holder.release}) CloseHandle(h);
    }
    remove_tree(directory);
}

struct WaitingUnpack {
    std::wstring dir;
    std::string blob;
    Unpacked result;
};

DWORD WINAPI unpack_in_thread(void *argument)
{
    WaitingUnpack *w = static_cast<WaitingUnpack *>(argument);
    w->result = unpack_into(w->dir, w->blob);
    return 0;
}

// A start waiting for its folder's lock while a tidy of another start moves
// the folder into its trash (under that lock, as the tidy does) finds, once
// it has the lock, that its path no longer leads there: it makes the folder
// afresh and unpacks into it, never into the trash.
TEST(UnpackLock, AStartWhoseFolderWasMovedWhileItWaitedUnpacksIntoAFreshOne)
{
    const std::wstring scratch = make_scratch_dir(L"lock-moved");
    const std::wstring dir = scratch + L"\\build";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), NULL));
    write_file(dir + L"\\old.txt", "the old build's");
    HANDLE lock = NULL;
    FinalPath root;
    ASSERT_FALSE(failed(acquire_unpack_lock_of(&lock, dir.c_str(), &root)));

    WaitingUnpack waiting = {dir, build_blob({record(L"app.exe", "app"), record(L"lib\\x.dll", "x")}), {}};
    HANDLE thread = CreateThread(NULL, 0, unpack_in_thread, &waiting, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(thread, 500), static_cast<DWORD>(WAIT_TIMEOUT)) << "it did not wait";
    ASSERT_TRUE(MoveFileExW(dir.c_str(), (scratch + L"\\trash").c_str(), 0));
    release_unpack_lock(&lock);
    ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);

    ASSERT_FALSE(failed(waiting.result.result)) << waiting.result;
    EXPECT_EQ(read_file(dir + L"\\app.exe"), "app");
    EXPECT_EQ(read_file(dir + L"\\lib\\x.dll"), "x");
    EXPECT_FALSE(file_exists(dir + L"\\old.txt"));
    EXPECT_EQ(tree_of(scratch + L"\\trash"), std::vector<std::wstring>{L"old.txt"});
    remove_tree(scratch);
}

// ---------------------------------------------------------------------------
// In-process: the directory memo

std::wstring home_folder()
{
    wchar_t path[MAX_PATH];
    if (SHGetFolderPathW(NULL, CSIDL_PROFILE, NULL, 0, path) != S_OK) return L"";
    return path;
}

// Each test starts with the memo of a fresh launch, seeded as the unpacker
// seeds it before its first use.
class DirectoryMemo : public ::testing::Test {
protected:
    void SetUp() override
    {
        context = new_context();
        memo = &context->payload.directories;
        ASSERT_FALSE(memo->seeded);
        ASSERT_EQ(memo->count, 0);
        ASSERT_FALSE(failed(seed_directory_memo(&context->shared, &context->payload.directories)));
        scratch = make_scratch_dir(L"memo");
    }
    void TearDown() override
    {
        forget_directories(memo);
        remove_tree(scratch);
    }
    bool ensure(const std::wstring &path) { return ensure_parent_directories(memo, path.c_str()); }
    bool create(const std::wstring &path) { return create_directory_cached(memo, path.c_str()); }
    std::vector<std::wstring> entries() const
    {
        std::vector<std::wstring> out;
        for (int i = 0; i < memo->count; i++) out.push_back(memo->entries[i]);
        return out;
    }
    std::unique_ptr<LaunchContext> context;
    ::DirectoryMemo *memo = nullptr;  // the context's, not this fixture
    std::wstring scratch;
};

TEST_F(DirectoryMemo, HomeIsSeededFirstAndNeverProbed)
{
    std::wstring home = home_folder();
    ASSERT_FALSE(home.empty());
    EXPECT_EQ(entries(), std::vector<std::wstring>{home});
    EXPECT_TRUE(ensure(home + L"\\file.txt"));
    // A probe of home would have found it existing and stored it again.
    EXPECT_EQ(entries(), std::vector<std::wstring>{home});
    EXPECT_TRUE(create(home));
    EXPECT_EQ(entries(), std::vector<std::wstring>{home});
    // Seeding again adds nothing: the home folder is looked up once a launch.
    EXPECT_FALSE(failed(seed_directory_memo(&context->shared, &context->payload.directories)));
    EXPECT_EQ(entries(), std::vector<std::wstring>{home});
}

TEST_F(DirectoryMemo, ClimbCreatesMissingLevelsTopDownAndRemembersAll)
{
    // Only the scratch folder exists above U\a\b: U\a\b and U\a fail, U is
    // created, then U\a and U\a\b; all three are remembered in that order.
    std::wstring u = scratch + L"\\U";
    std::wstring file = u + L"\\a\\b\\file.bin";
    const std::wstring before = file;
    EXPECT_TRUE(ensure(file));
    EXPECT_EQ(file, before);
    EXPECT_TRUE(is_directory(u + L"\\a\\b"));
    EXPECT_FALSE(file_exists(file));
    EXPECT_EQ(entries(), (std::vector<std::wstring>{home_folder(), u, u + L"\\a", u + L"\\a\\b"}));

    // The climb stops at the first level that can be made: with V present,
    // V\a is created at once and V itself is never probed.
    std::wstring v = scratch + L"\\V";
    ASSERT_TRUE(CreateDirectoryW(v.c_str(), NULL));
    EXPECT_TRUE(ensure(v + L"\\a\\b\\file.bin"));
    EXPECT_TRUE(is_directory(v + L"\\a\\b"));
    std::vector<std::wstring> all = entries();
    EXPECT_EQ(std::vector<std::wstring>(all.begin() + 4, all.end()),
              (std::vector<std::wstring>{v + L"\\a", v + L"\\a\\b"}));
}

TEST_F(DirectoryMemo, AnExistingDirectoryIsRememberedAfterItsFirstProbe)
{
    std::wstring d = scratch + L"\\existing";
    ASSERT_TRUE(CreateDirectoryW(d.c_str(), NULL));
    EXPECT_TRUE(ensure(d + L"\\one.bin"));
    EXPECT_EQ(entries().back(), d);
    size_t count = entries().size();
    // Once remembered it is not probed again: removing it behind the memo's
    // back goes unnoticed and nothing is recreated.
    ASSERT_TRUE(RemoveDirectoryW(d.c_str()));
    EXPECT_TRUE(ensure(d + L"\\two.bin"));
    EXPECT_FALSE(file_exists(d));
    EXPECT_EQ(entries().size(), count);
}

TEST_F(DirectoryMemo, AFailedCreationIsNotRememberedAndIsTriedAgain)
{
    std::wstring missing_parent = scratch + L"\\nope";
    std::wstring d = missing_parent + L"\\child";
    EXPECT_FALSE(create(d));
    size_t count = entries().size();
    ASSERT_TRUE(CreateDirectoryW(missing_parent.c_str(), NULL));
    EXPECT_TRUE(create(d));
    EXPECT_TRUE(is_directory(d));
    EXPECT_EQ(entries().size(), count + 1);
    EXPECT_EQ(entries().back(), d);
}

TEST_F(DirectoryMemo, BareDriveIsTakenAsExistingWithoutBeingRemembered)
{
    // Q: does not exist: a probe would fail.
    ASSERT_EQ(GetFileAttributesW(L"Q:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(create(L"Q:"));
    EXPECT_TRUE(ensure(L"C:\\file.bin"));
    EXPECT_EQ(entries(), std::vector<std::wstring>{home_folder()});
    // A path without a separator after its first unit has no parent at all.
    EXPECT_TRUE(ensure(L"file.bin"));
    EXPECT_TRUE(ensure(L"\\file.bin"));
    EXPECT_EQ(entries(), std::vector<std::wstring>{home_folder()});
}

TEST_F(DirectoryMemo, MatchingIsByExactCodeUnits)
{
    std::wstring upper = scratch + L"\\Data";
    std::wstring lower = scratch + L"\\data";
    EXPECT_TRUE(create(upper));
    EXPECT_TRUE(create(lower));
    EXPECT_TRUE(create(upper));
    EXPECT_EQ(entries(), (std::vector<std::wstring>{home_folder(), upper, lower}));
}

TEST_F(DirectoryMemo, TheTableStopsGrowingAt1024Entries)
{
    for (int i = 0; memo->count < CREATED_DIRECTORIES_CAPACITY; i++) {
        ASSERT_TRUE(create(scratch + L"\\d" + std::to_wstring(i)));
        ASSERT_LT(i, 2000);
    }
    std::wstring late = scratch + L"\\late";
    EXPECT_TRUE(create(late));
    EXPECT_TRUE(is_directory(late));
    EXPECT_EQ(memo->count, CREATED_DIRECTORIES_CAPACITY);
    // Not remembered, so the next call asks the system again.
    ASSERT_TRUE(RemoveDirectoryW(late.c_str()));
    EXPECT_TRUE(create(late));
    EXPECT_TRUE(is_directory(late));
    EXPECT_EQ(memo->count, CREATED_DIRECTORIES_CAPACITY);
}

}  // namespace
