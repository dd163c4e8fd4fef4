// Builds that keep a number of builds' unpack folders, started as a user
// starts them: the folders of the product's other builds beside a start's
// own go, all but the most recently started; a folder in use, another
// product's and anything a user put there stay; a start killed while it
// removes leaves nothing a later start trips over. Under Wine a running
// program does not lock its own files, so what keeps its folder is the
// marker its launcher holds open: exactly what these tests see.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "little_endian.h"
#include "packed_file.h"
#include "payload/unpack_lock.h"
#include "process_runner.h"
#include "test_paths.h"
#include "tidy/remove_tree.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const wchar_t MARKER[] = L".zobrel-build";
const wchar_t TRASH_PREFIX[] = L".zobrel-trash-";

// Every file under dir, by its path relative to dir, with its content; the
// launcher's marker left out.
std::map<std::wstring, std::string> files_under(const std::wstring &dir)
{
    std::map<std::wstring, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().filename().wstring() != MARKER) {
            out[std::filesystem::relative(it->path(), dir).wstring()] = read_file(it->path().wstring());
        }
    }
    return out;
}

// The names of the folders in dir.
std::set<std::wstring> folders_in(const std::wstring &dir)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
            names.insert(name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

bool has_trash(const std::set<std::wstring> &names)
{
    for (const std::wstring &name : names) {
        if (name.rfind(TRASH_PREFIX, 0) == 0) return true;
    }
    return false;
}

std::u16string text_of(const std::string &bytes)
{
    std::u16string text;
    for (size_t i = 0; i + 3 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(read_le16(reinterpret_cast<const unsigned char *>(&bytes[i]))));
    }
    return text;
}

std::string u32_value(uint32_t value)
{
    unsigned char bytes[4];
    write_le32(bytes, value);
    return std::string(reinterpret_cast<const char *>(bytes), 4);
}

// One build as the tests run it.
struct Build {
    std::wstring exe;     // the copy that is run
    std::wstring folder;  // the name of its unpack folder
    std::wstring app;     // the application folder it carries
};

class Tidy : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = make_scratch_dir(L"tidy");
        temp_ = scratch_ + L"\\temp";
        parent_ = temp_ + L"\\Zobrel Tests\\tidy";
        ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), NULL));
    }

    void TearDown() override { remove_tree(scratch_); }

    // Build 1 to 4 of product "tidy", or "other", another product, as packed
    // (default target specification, one build kept), with its folder moved
    // from {CACHE_DIR} to {TEMP} (the same name, in the folder of the tidy
    // builds) and keeping `keep` builds: 0 leaves the setting out, as a
    // build packed without --keep-builds.
    Build prepare(const std::wstring &build, uint32_t keep = 1)
    {
        std::string image = read_file(test_program(L"tidy_build_" + build + L".exe"));
        std::vector<ConstantValue> values;
        std::u16string spec;
        for (const ConstantValue &v : constants_of(image)) {
            if (v.key == CONSTANT_TARGET_SPEC) spec = text_of(v.bytes);
            if (v.key != CONSTANT_KEEP_BUILDS) values.push_back(v);
        }
        const std::u16string product = build == L"other" ? u"other" : u"tidy";
        EXPECT_EQ(spec.rfind(u"{CACHE_DIR}\\Zobrel Tests\\" + product + u"\\0.0.0.0-0.0.0.0-", 0), 0u)
            << "not the default specification";
        const std::u16string last = spec.substr(spec.rfind(u'\\') + 1);
        for (ConstantValue &v : values) {
            if (v.key == CONSTANT_TARGET_SPEC)
                v.bytes = constant_text(u"{TEMP}\\Zobrel Tests\\tidy\\" + last);
        }
        if (keep != 0) values.push_back({CONSTANT_KEEP_BUILDS, u32_value(keep)});
        replace_constants(image, values);
        Build b;
        b.exe = scratch_ + L"\\bin\\build-" + build + L"-keep" + std::to_wstring(keep) + L".exe";
        write_file(b.exe, image);
        b.folder.assign(last.begin(), last.end());
        b.app = widen(ZOBREL_TIDY_APP_DIR) + build;
        return b;
    }

    RunOptions options(const Build &b, const std::vector<std::pair<std::wstring, std::wstring>> &extra = {})
    {
        RunOptions o;
        o.command_line = quote_argument(b.exe);
        o.set_env = {{L"TEMP", temp_}, {L"TMP", temp_}};
        o.set_env.insert(o.set_env.end(), extra.begin(), extra.end());
        return o;
    }

    // Runs the build to its end: the application's exit code, nothing said.
    void run(const Build &b)
    {
        RunResult r = run_process(options(b));
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE)
            << narrow(b.exe) << ": " << r.standard_output << r.standard_error;
        EXPECT_EQ(r.standard_output + r.standard_error, "") << narrow(b.exe);
    }

    // Starts the build with its application kept running until release().
    StartedProcess start_running(const Build &b)
    {
        const std::wstring held = scratch_ + L"\\held";
        DeleteFileW(held.c_str());
        DeleteFileW(release_path().c_str());
        StartedProcess started =
            start_process(options(b, {{L"APP_HELD", held}, {L"APP_RELEASE", release_path()}}));
        for (int i = 0; i < 6000 && !file_exists(held); i++) Sleep(20);
        EXPECT_TRUE(file_exists(held)) << "the application never started";
        return started;
    }

    std::wstring release_path() const { return scratch_ + L"\\release"; }

    void release(StartedProcess &started, const Build &b)
    {
        write_file(release_path(), "");
        RunResult r = finish_process(started, options(b));
        // 4 would say its folder was moved away while it ran.
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        EXPECT_EQ(r.standard_output + r.standard_error, "");
    }

    std::wstring path(const Build &b) const { return parent_ + L"\\" + b.folder; }
    std::set<std::wstring> folders() const { return folders_in(parent_); }

    // The build's folder holds its application, byte for byte, and its marker.
    void expect_whole(const Build &b)
    {
        EXPECT_TRUE(files_under(path(b)) == files_under(b.app)) << narrow(b.folder);
        EXPECT_TRUE(file_exists(path(b) + L"\\" + MARKER)) << narrow(b.folder);
    }

    std::wstring scratch_, temp_, parent_;
};

TEST_F(Tidy, BuildsOneToFourKeepingOneLeaveOnlyTheLatestFolder)
{
    std::vector<Build> builds;
    for (const wchar_t *n : {L"1", L"2", L"3", L"4"}) builds.push_back(prepare(n));
    std::set<std::wstring> names;
    for (const Build &b : builds) names.insert(b.folder);
    ASSERT_EQ(names.size(), 4u) << "four payloads, four default folders";

    for (const Build &b : builds) {
        SCOPED_TRACE(narrow(b.exe));
        run(b);
        EXPECT_EQ(folders(), std::set<std::wstring>{b.folder});
        expect_whole(b);
    }
    // An older build started again takes its turn as the one kept.
    run(builds[1]);
    EXPECT_EQ(folders(), std::set<std::wstring>{builds[1].folder});
    expect_whole(builds[1]);
}

// Kept are the most recently started, not the most recently made.
TEST_F(Tidy, KeepingTwoKeepsTheMostRecentlyStartedOtherBuild)
{
    const Build b1 = prepare(L"1", 2), b2 = prepare(L"2", 2), b3 = prepare(L"3", 2);
    run(b1);
    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
    run(b3);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b2.folder, b3.folder}));
    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b2.folder, b3.folder}));
    run(b1);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
    expect_whole(b1);
    expect_whole(b2);
}

// Without the setting a start removes nothing and writes no marker; and a
// build with it leaves those unmarked folders alone.
TEST_F(Tidy, WithoutTheSettingNothingIsRemovedOrMarked)
{
    const Build b1 = prepare(L"1", 0), b2 = prepare(L"2", 0), b3 = prepare(L"3", 0);
    run(b1);
    run(b2);
    run(b3);
    run(b1);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder, b3.folder}));
    for (const Build &b : {b1, b2, b3}) {
        EXPECT_FALSE(file_exists(path(b) + L"\\" + MARKER)) << narrow(b.folder);
        EXPECT_TRUE(files_under(path(b)) == files_under(b.app)) << narrow(b.folder);
    }
    const Build b4 = prepare(L"4");
    run(b4);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder, b3.folder, b4.folder}));
}

TEST_F(Tidy, FoldersThatAreNotThisProductsOtherBuildsStay)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2"), other = prepare(L"other");
    // Another product's build, unpacked beside this product's builds.
    run(other);
    // A user's folder; one whose marker is not whole; a marker file with no
    // folder; another product's trash; a file.
    write_file(parent_ + L"\\my notes\\todo.txt", "keep me");
    write_file(parent_ + L"\\cut marker\\" + MARKER, "ZOBBUILD");
    write_file(parent_ + L"\\" + MARKER, "ZOBBUILD12345678");
    write_file(parent_ + L"\\.zobrel-trash-0123456789abcdef-someone\\x.txt", "not ours");
    write_file(parent_ + L"\\loose.txt", "a file");
    const std::map<std::wstring, std::string> before = files_under(parent_);

    run(b1);
    run(b2);
    std::map<std::wstring, std::string> after = files_under(parent_);
    for (const auto &f : before) {
        EXPECT_TRUE(after.count(f.first) && after.at(f.first) == f.second) << narrow(f.first);
    }
    EXPECT_EQ(folders(), (std::set<std::wstring>{b2.folder, other.folder, L"my notes", L"cut marker",
                                                 L".zobrel-trash-0123456789abcdef-someone"}));
    EXPECT_TRUE(file_exists(parent_ + L"\\" + MARKER));
    expect_whole(other);
    // The other product's own start leaves this product's build alone too.
    run(other);
    expect_whole(b2);
}

TEST_F(Tidy, AFolderInUseStaysAndGoesAtTheNextStartAfterIt)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");

    // Its program runs.
    StartedProcess running = start_running(b1);
    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
    expect_whole(b1);
    release(running, b1);
    run(b2);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});

    // A launcher is unpacking it: its lock is held (here by the test).
    run(b1);
    HANDLE lock = NULL;
    ASSERT_FALSE(failed(acquire_unpack_lock(&lock, path(b1).c_str())));
    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
    expect_whole(b1);
    release_unpack_lock(&lock);
    run(b2);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
}

// A file in the folder that cannot go ends that removal quietly; what is
// left goes at a later start once it can. On Windows the open file keeps
// the folder from being renamed at all; under Wine it is renamed and the
// file stops its removal: either way the start goes on.
TEST_F(Tidy, AFileThatCannotGoEndsTheRemovalQuietly)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    run(b1);
    write_file(path(b1) + L"\\data\\zz-held.txt", "the user's, open");
    HANDLE held = CreateFileW((path(b1) + L"\\data\\zz-held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run(b2);
    CloseHandle(held);
    EXPECT_TRUE(folders().count(b2.folder));
    run(b2);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
}

TEST_F(Tidy, AStartKilledWhileItRemovesLeavesLaterStartsWorking)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    run(b1);
    // Files the application left there, enough that removing them takes a while.
    for (int i = 0; i < 3000; i++) {
        write_file(path(b1) + L"\\cache\\d" + std::to_wstring(i % 30) + L"\\f" + std::to_wstring(i),
                   "cached");
    }
    // The start's tidy on its main thread (tidy_probe): see there why.
    RunOptions probe = options(b2);
    probe.command_line = quote_argument(test_program(L"tidy_probe.exe")) + L" " + quote_argument(b2.exe) +
                         L" " + quote_argument(path(b2));
    StartedProcess killed = start_process(probe);
    bool seen = false;
    for (int i = 0; i < 60000 && !seen; i++) {
        seen = has_trash(folders());
        if (!seen) Sleep(1);
    }
    ASSERT_TRUE(seen) << "the removal never began";
    TerminateProcess(killed.info.hProcess, 0xDEAD);
    RunResult r = finish_process(killed, probe);
    EXPECT_EQ(r.exit_code, 0xDEADu);
    const std::set<std::wstring> left = folders();
    EXPECT_TRUE(has_trash(left)) << "the removal was not cut short";
    EXPECT_FALSE(left.count(b1.folder)) << "renamed before anything in it was removed";

    // The old build starts over a folder of its own, whole; the next starts
    // of the new one clear what the killed one left. Each tidy stops at its
    // time limit, so on a loaded machine the trash may take more than one
    // start; each start removes some of it, so a few are enough.
    run(b1);
    expect_whole(b1);
    int starts = 0;
    do {
        run(b2);
        expect_whole(b2);
    } while (++starts < 5 && folders() != std::set<std::wstring>{b2.folder});
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder}) << starts << " starts";
}

// Copies of two builds of one product started together, each tidying the
// other's folder: every copy runs its application over its own folder to
// the end (the application checks its folder is still there when it
// ends), and what is left is whole.
TEST_F(Tidy, ParallelStartsOfTwoBuilds)
{
    const Build builds[2] = {prepare(L"1"), prepare(L"2")};
    const int copies = 4;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        if (round == 0) remove_tree(parent_);
        std::vector<StartedProcess> started;
        for (int i = 0; i < 2 * copies; i++) {
            started.push_back(start_process(options(builds[i % 2], {{L"APP_HOLD_MS", L"300"}}), true));
        }
        for (StartedProcess &s : started) ResumeThread(s.info.hThread);
        for (int i = 0; i < 2 * copies; i++) {
            RunResult r = finish_process(started[i], options(builds[i % 2]));
            EXPECT_EQ(r.exit_code, APP_EXIT_CODE)
                << "copy " << i << ": " << r.standard_output << r.standard_error;
            EXPECT_EQ(r.standard_output + r.standard_error, "") << "copy " << i;
        }
        const std::set<std::wstring> left = folders();
        EXPECT_FALSE(has_trash(left));
        EXPECT_FALSE(left.empty());
        for (const Build &b : builds) {
            if (left.count(b.folder)) expect_whole(b);
        }
        for (const std::wstring &name : left) {
            EXPECT_TRUE(name == builds[0].folder || name == builds[1].folder) << narrow(name);
        }
    }
    run(builds[1]);
    EXPECT_EQ(folders(), std::set<std::wstring>{builds[1].folder});
}

// The removal itself, in this process.
TEST(RemoveTree, RemovesAnyDepthAndStopsAtWhatCannotGoOrAtItsDeadline)
{
    const std::wstring scratch = make_scratch_dir(L"remove-tree");
    const std::wstring root = scratch + L"\\tree";
    std::wstring deep = root;
    for (int level = 0; level < 60; level++) {
        deep += L"\\level" + std::to_wstring(level);
        write_file(deep + L"\\a.txt", "a");
        write_file(deep + L"\\b.txt", "b");
        write_file(deep + L"\\sibling\\c.txt", "c");
    }
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    write_file(root + L"\\empty\\.keep", "");
    ASSERT_TRUE(DeleteFileW((root + L"\\empty\\.keep").c_str()));

    // No time left: nothing goes.
    EXPECT_FALSE(remove_tree(root.c_str(), GetTickCount64() - 1));
    EXPECT_TRUE(file_exists(deep + L"\\a.txt"));

    // A file held open without sharing deletion stops it there, quietly.
    const std::wstring held_path = root + L"\\level0\\level1\\b.txt";
    HANDLE held = CreateFileW(held_path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(remove_tree(root.c_str(), GetTickCount64() + 60000));
    EXPECT_TRUE(file_exists(held_path));
    CloseHandle(held);

    EXPECT_TRUE(remove_tree(root.c_str(), GetTickCount64() + 60000));
    EXPECT_FALSE(file_exists(root));
    EXPECT_TRUE(file_exists(scratch)) << "only the tree goes";
    // A folder that is not there is not removed.
    EXPECT_FALSE(remove_tree(root.c_str(), GetTickCount64() + 60000));
    remove_tree(scratch);
}

}  // namespace
