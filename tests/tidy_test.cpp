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
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "build_marker_layout.h"
#include "common/final_path.h"
#include "launcher/launch_context.h"
#include "links.h"
#include "little_endian.h"
#include "packed_file.h"
#include "payload/brief_hold.h"
#include "payload/unpack_lock.h"
#include "process_runner.h"
#include "test_paths.h"
#include "tidy/older_builds.h"
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
    for (const FolderEntry &entry : folder_entries(dir)) {
        if (entry.folder) names.insert(entry.name);
    }
    return names;
}

bool has_trash(const std::set<std::wstring> &names)
{
    for (const std::wstring &name : names) {
        if (name.rfind(TRASH_PREFIX, 0) == 0) return true;
    }
    return false;
}

// The names of what tidies left for good.
std::vector<std::wstring> left_for_good(const std::set<std::wstring> &names)
{
    std::vector<std::wstring> left;
    for (const std::wstring &name : names) {
        if (name.rfind(L".zobrel-left-", 0) == 0) left.push_back(name);
    }
    return left;
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

// The resolved final path of a folder, as a tidy resolves the parent it lists.
FinalPath final_path_of(const std::wstring &folder)
{
    FinalPath resolved = {};
    HANDLE h = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << narrow(folder);
    EXPECT_TRUE(resolve_final_path(h, &resolved)) << narrow(folder);
    CloseHandle(h);
    return resolved;
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
        return prepared(build, keep != 0 ? std::optional<uint32_t>(keep) : std::nullopt, false);
    }

    // The same build with a folder of its own per start ("run-" and a random
    // token, beside the builds' folders), keeping none: --keep-builds 0.
    // Its folder's name is known only once it runs.
    Build prepare_per_start(const std::wstring &build) { return prepared(build, 0, true); }

    Build prepared(const std::wstring &build, std::optional<uint32_t> keep, bool per_start)
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
        const std::u16string last = per_start ? u"run-{RANDOM}" : spec.substr(spec.rfind(u'\\') + 1);
        for (ConstantValue &v : values) {
            if (v.key == CONSTANT_TARGET_SPEC)
                v.bytes = constant_text(u"{TEMP}\\Zobrel Tests\\tidy\\" + last);
        }
        if (keep) values.push_back({CONSTANT_KEEP_BUILDS, u32_value(*keep)});
        replace_constants(image, values);
        Build b;
        b.exe = scratch_ + L"\\bin\\build-" + build + L"-keep" +
                (keep ? std::to_wstring(*keep) : std::wstring(L"all")) + (per_start ? L"-per-start" : L"") +
                L".exe";
        write_file(b.exe, image);
        if (!per_start) b.folder.assign(last.begin(), last.end());
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

    // Starts the build with its application kept running until release()
    // (or with another command line: a probe of the build's start).
    StartedProcess start_running(const Build &b, const std::wstring &command_line = L"")
    {
        const std::wstring held = held_path();
        DeleteFileW(held.c_str());
        DeleteFileW(release_path().c_str());
        RunOptions o = options(b, {{L"APP_HELD", held}, {L"APP_RELEASE", release_path()}});
        if (!command_line.empty()) o.command_line = command_line;
        StartedProcess started = start_process(o);
        for (int i = 0; i < 6000 && !file_exists(held); i++) Sleep(20);
        EXPECT_TRUE(file_exists(held)) << "the application never started";
        return started;
    }

    std::wstring held_path() const { return scratch_ + L"\\held"; }

    // The running application's own process, from the id it wrote.
    HANDLE running_application() const
    {
        const DWORD id = static_cast<DWORD>(std::stoul(read_file(held_path())));
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        EXPECT_NE(process, nullptr) << "no process " << id;
        return process;
    }

    // The tidy a start of build b runs, here in this process: what it did.
    TidyOutcome tidy_here(const Build &b)
    {
        std::unique_ptr<LaunchContext> context(new LaunchContext());
        init_launch_context(context.get(), L"tidy_test");
        context->shared.build.company = L"Zobrel Tests";
        context->shared.build.product = L"tidy";
        context->shared.build.keep_builds = 1;
        const std::wstring own = path(b);
        own.copy(context->shared.unpack_directory, own.size());
        context->shared.unpack_root = final_path_of(own);
        return tidy_older_builds(&context->shared, GetTickCount64() + 60000);
    }

    std::wstring release_path() const { return scratch_ + L"\\release"; }

    // Lets a held program go and expects it to end with its own code: its
    // folder was never moved away while it ran. Closes its handle.
    void release_and_expect_own_end(HANDLE program)
    {
        write_file(release_path(), "");
        ASSERT_EQ(WaitForSingleObject(program, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(program, &code));
        EXPECT_EQ(code, APP_EXIT_CODE) << "4: its folder was moved away while it ran";
        CloseHandle(program);
    }

    void release(StartedProcess &started, const Build &b)
    {
        write_file(release_path(), "");
        RunResult r = finish_process(started, options(b));
        // 4 would say its folder was moved away while it ran.
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        EXPECT_EQ(r.standard_output + r.standard_error, "");
    }

    std::wstring path(const Build &b) const { return parent_ + L"\\" + b.folder; }

    // The build as it ran in that folder (one of a build with a folder per start).
    static Build in_folder(Build b, const std::wstring &folder)
    {
        b.folder = folder;
        return b;
    }
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

    // A launcher is unpacking it: its lock is held (here by the test, which
    // names the folder by its short name: the lock is the folder's, however
    // it is spelt).
    run(b1);
    wchar_t short_spelling[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(path(b1).c_str(), short_spelling, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(short_spelling), path(b1));
    HANDLE lock = NULL;
    FinalPath root;
    ASSERT_FALSE(failed(acquire_unpack_lock_of(&lock, short_spelling, &root)));
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
    // start (the old build's own start may already have cleared it); each
    // start removes some of it, until none is left.
    run(b1);
    expect_whole(b1);
    auto files_in_trash = [&]() {
        size_t count = 0;
        for (const std::wstring &name : folders()) {
            if (name.rfind(TRASH_PREFIX, 0) == 0) count += files_under(parent_ + L"\\" + name).size() + 1;
        }
        return count;
    };
    size_t before = files_in_trash();
    do {
        run(b2);
        expect_whole(b2);
        const size_t after = files_in_trash();
        ASSERT_TRUE(after == 0 || after < before) << "a start removed nothing of the trash";
        before = after;
    } while (before > 0);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
}

// A link in an old build's folder, whatever it leads to, never lets the
// tidy reach outside: what the link points to is byte for byte as it was.
// Under Wine, where a link opens as its target and no link can be removed
// without its target, the folder is left for good under a name later tidies
// see in their one listing of the product's folder and never look into
// again. On Windows a link opens as itself and goes as a link, and the
// folder with it.
TEST_F(Tidy, ALinkInAnOldBuildsFolderNeverLeadsTheTidyOutside)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    struct Case {
        const char *what;
        const wchar_t *target;  // in the folder outside; null: the link itself
        bool folder;
    } cases[] = {
        {"a link to a file", L"file.txt", false},      {"a link to a full folder", L"full", true},
        {"a link to an empty folder", L"empty", true}, {"a link to nothing", L"nothing", false},
        {"a link to itself", nullptr, false},
    };
    const std::wstring outside = scratch_ + L"\\outside";
    write_file(outside + L"\\file.txt", "the user's own");
    write_file(outside + L"\\full\\deep\\x.txt", "another program's");
    ASSERT_TRUE(CreateDirectoryW((outside + L"\\empty").c_str(), NULL));
    const std::map<std::wstring, std::string> before = snapshot(outside);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        run(b1);
        const std::wstring link = path(b1) + L"\\data\\link";
        make_link(link, c.target != nullptr ? outside + L"\\" + c.target : link, c.folder);

        run(b2);
        EXPECT_TRUE(snapshot(outside) == before) << "something outside the product's folder changed";
        std::set<std::wstring> left = folders();
        EXPECT_FALSE(left.count(b1.folder));
        EXPECT_FALSE(has_trash(left));
        const std::vector<std::wstring> kept = left_for_good(left);
        if (!under_wine()) {
            EXPECT_TRUE(kept.empty());
            continue;
        }
        ASSERT_EQ(kept.size(), 1u);
        // Later starts look at it no more: a tidy there finds nothing to do.
        run(b2);
        EXPECT_EQ(folders(), left);
        const TidyOutcome again = tidy_here(b2);
        EXPECT_EQ(again.removed + again.in_use + again.stopped + again.left + again.leftovers_cleared, 0u);
        EXPECT_TRUE(snapshot(outside) == before);
        remove_link(parent_ + L"\\" + kept[0] + L"\\data\\link");
        remove_tree(parent_ + L"\\" + kept[0]);
    }
}

// Only a build's own folder is removed: its marker names the folder it was
// written in, so a copy of it (Explorer's "... - Copy", a backup renamed by
// hand) is never taken for the build, nor is a folder with the earlier
// marker, which names no folder. A build's own folder with the earlier
// marker gets the new one at its next start, and is then the build's.
TEST_F(Tidy, CopiesOfABuildsFolderAndEarlierMarkersStay)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    run(b1);
    const std::wstring copies[] = {path(b1) + L" - Copy", parent_ + L"\\backup of 1"};
    for (const std::wstring &copy : copies) {
        std::filesystem::copy(path(b1), copy, std::filesystem::copy_options::recursive);
        ASSERT_TRUE(file_exists(copy + L"\\" + MARKER));
    }
    const uint64_t identity = build_marker_identity(u"Zobrel Tests", u"tidy");
    unsigned char earlier[EARLIER_BUILD_MARKER_SIZE] = {'Z', 'O', 'B', 'B', 'U', 'I', 'L', 'D'};
    write_le64(earlier + 8, identity);
    const std::string earlier_marker(reinterpret_cast<const char *>(earlier), sizeof earlier);
    const std::wstring older = parent_ + L"\\0.0.0.0-0.0.0.0-0badc0de";
    write_file(older + L"\\app.exe", "an older build's");
    write_file(older + L"\\" + MARKER, earlier_marker);
    const std::map<std::wstring, std::string> before = files_under(parent_);

    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b2.folder, b1.folder + L" - Copy", L"backup of 1",
                                                 L"0.0.0.0-0.0.0.0-0badc0de"}));
    std::map<std::wstring, std::string> after = files_under(parent_);
    for (const auto &f : before) {
        if (f.first.rfind(b1.folder + L"\\", 0) == 0) continue;  // the build's own folder went
        EXPECT_TRUE(after.count(f.first) && after.at(f.first) == f.second) << narrow(f.first);
    }
    EXPECT_EQ(read_file(older + L"\\" + MARKER), earlier_marker);

    // b2's own folder with the earlier marker: its start writes its own.
    write_file(path(b2) + L"\\" + MARKER, earlier_marker);
    run(b2);
    const std::string marker = read_file(path(b2) + L"\\" + MARKER);
    BuildMarkerView view;
    ASSERT_EQ(
        check_build_marker(reinterpret_cast<const unsigned char *>(marker.data()), marker.size(), &view),
        BUILD_MARKER_WHOLE);
    EXPECT_EQ(view.identity, identity);
    const std::u16string folder(b2.folder.begin(), b2.folder.end());
    EXPECT_TRUE(build_marker_names_folder(view, folder.data(), folder.size()));
    run(b1);
    EXPECT_FALSE(folders().count(b2.folder));
}

// A launcher ended by TerminateProcess while its program runs takes the
// program along (the job both launchers put it in), so no later tidy finds
// the folder of a program still running; the next start of another build
// then removes the folder.
TEST_F(Tidy, AKilledLauncherTakesItsProgramAlong)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    StartedProcess launcher = start_running(b1);
    HANDLE application = running_application();
    ASSERT_NE(application, nullptr);
    TerminateProcess(launcher.info.hProcess, 0xDEAD);
    RunResult r = finish_process(launcher, options(b1));
    EXPECT_EQ(r.exit_code, 0xDEADu);
    EXPECT_EQ(WaitForSingleObject(application, 30000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the program still runs without its launcher";
    CloseHandle(application);
    run(b2);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
}

// Where the job cannot tie the program to its launcher (made or joined),
// the program still holds its folder for as long as it runs: it inherits
// the folder's claim and marker. Here the start is tidy_probe's, which
// starts the program as the launcher does but leaves it out of the job.
TEST_F(Tidy, AProgramLeftWithoutItsLauncherKeepsItsFolder)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    StartedProcess probe =
        start_running(b1, quote_argument(test_program(L"tidy_probe.exe")) + L" " + quote_argument(b1.exe) +
                              L" " + quote_argument(path(b1)) + L" --untied");
    HANDLE application = running_application();
    ASSERT_NE(application, nullptr);
    TerminateProcess(probe.info.hProcess, 0xDEAD);
    finish_process(probe, options(b1));
    EXPECT_EQ(WaitForSingleObject(application, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    run(b2);
    EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
    expect_whole(b1);
    ASSERT_NO_FATAL_FAILURE(release_and_expect_own_end(application));
    run(b2);
    EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
}

// A running build's folder is never removed, whatever holds its marker
// while it starts: a hold shorter than the bound on waits (2 s) is waited
// out and the marker is then held by the start; a longer one leaves the
// marker unheld (valid, and free once the other program lets it go), and
// the folder's claim, which the start keeps with its program, keeps every
// tidy of this logon session away from it all the same.
TEST_F(Tidy, AMarkerHeldWhileABuildStartsLeavesItsFolderInUse)
{
    const Build b1 = prepare(L"1"), b2 = prepare(L"2");
    for (DWORD hold_ms : {DWORD{1500}, DWORD{5000}}) {
        SCOPED_TRACE(hold_ms);
        run(b1);
        const std::wstring marker = path(b1) + L"\\" + MARKER;
        const std::wstring ready = scratch_ + L"\\holding";
        DeleteFileW(ready.c_str());
        RunOptions holder;
        holder.command_line = quote_argument(test_program(L"hold_file.exe")) + L" " + quote_argument(marker) +
                              L" " + std::to_wstring(hold_ms) + L" " + quote_argument(ready);
        StartedProcess holding = start_process(holder);
        for (int i = 0; i < 6000 && !file_exists(ready); i++) Sleep(10);
        ASSERT_TRUE(file_exists(ready)) << "the marker was never held";
        StartedProcess running = start_running(b1);
        EXPECT_EQ(finish_process(holding, holder).exit_code, 0u);

        // Held by the start after a short hold; not after a long one.
        HANDLE look = CreateFileW(marker.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(look == INVALID_HANDLE_VALUE, hold_ms < BRIEF_HOLD_BOUND_MS);
        if (look != INVALID_HANDLE_VALUE) CloseHandle(look);

        run(b2);
        EXPECT_EQ(folders(), (std::set<std::wstring>{b1.folder, b2.folder}));
        expect_whole(b1);
        release(running, b1);
        run(b2);
        EXPECT_EQ(folders(), std::set<std::wstring>{b2.folder});
    }
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

// A build that keeps no folder, with a folder per start: each start's
// folder is there, whole, while its program runs, and goes once the program
// has ended; the launcher still ends with the program's own 32-bit exit
// code, and says nothing. Its starts remove what the product's other builds
// left beside it too, as a build keeping one does.
TEST_F(Tidy, KeepingNoneRemovesEachStartsOwnFolderOnceItsProgramHasEnded)
{
    const Build b1 = prepare(L"1"), once = prepare_per_start(L"2");
    run(b1);
    ASSERT_EQ(folders(), std::set<std::wstring>{b1.folder});
    run(once);
    EXPECT_EQ(folders(), std::set<std::wstring>{});

    StartedProcess running = start_running(once);
    const std::set<std::wstring> during = folders();
    ASSERT_EQ(during.size(), 1u);
    ASSERT_EQ(during.begin()->rfind(L"run-", 0), 0u) << narrow(*during.begin());
    expect_whole(in_folder(once, *during.begin()));
    release(running, once);
    EXPECT_EQ(folders(), std::set<std::wstring>{});
}

// A program the program started, which broke away from the launcher's job,
// keeps the folder for as long as it runs, and a later start removes the
// folder once it has ended. One that inherited the launcher's handles holds
// the folder's marker and claim; one that did not is found by its running
// image. On Windows that image, open in the folder, also keeps the folder
// from being renamed; under Wine, which does not lock running images, the
// look at the processes' images is all that keeps it, which is what the
// second case shows there.
TEST_F(Tidy, AProgramStartedFromAStartsFolderKeepsItUntilItEnds)
{
    const Build once = prepare_per_start(L"1");
    for (const wchar_t *how : {L"inherit", L"alone"}) {
        SCOPED_TRACE(narrow(how));
        DeleteFileW(held_path().c_str());
        DeleteFileW(release_path().c_str());
        RunResult r = run_process(options(
            once, {{L"APP_SPAWN", how}, {L"APP_HELD", held_path()}, {L"APP_RELEASE", release_path()}}));
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE)
            << "5: the copy did not start. " << r.standard_output << r.standard_error;
        for (int i = 0; i < 6000 && !file_exists(held_path()); i++) Sleep(10);
        ASSERT_TRUE(file_exists(held_path())) << "the copy never ran";
        HANDLE copy = running_application();
        ASSERT_NE(copy, nullptr);
        const std::set<std::wstring> kept = folders();
        ASSERT_EQ(kept.size(), 1u);
        expect_whole(in_folder(once, *kept.begin()));

        // Another start meanwhile leaves it alone, and its own folder goes.
        run(once);
        EXPECT_EQ(folders(), kept);

        ASSERT_NO_FATAL_FAILURE(release_and_expect_own_end(copy));
        run(once);
        EXPECT_EQ(folders(), std::set<std::wstring>{});
    }
}

// A link put in a start's folder while its program runs never leads the
// removal at its end outside: what the link points to stays byte for byte.
// On Windows the link goes as a link, and the folder with it; under Wine,
// where a link opens as its target, the folder is left for good under the
// name no tidy looks into again.
TEST_F(Tidy, ALinkInAStartsOwnFolderNeverLeadsItsRemovalOutside)
{
    const Build once = prepare_per_start(L"1");
    const std::wstring outside = scratch_ + L"\\outside";
    write_file(outside + L"\\file.txt", "the user's own");
    write_file(outside + L"\\full\\deep\\x.txt", "another program's");
    const std::map<std::wstring, std::string> before = snapshot(outside);
    struct Case {
        const char *what;
        const wchar_t *target;
        bool folder;
    } cases[] = {{"a link to a file", L"file.txt", false}, {"a link to a full folder", L"full", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        StartedProcess running = start_running(once);
        const std::set<std::wstring> during = folders();
        ASSERT_EQ(during.size(), 1u);
        make_link(parent_ + L"\\" + *during.begin() + L"\\data\\link", outside + L"\\" + c.target, c.folder);
        release(running, once);

        EXPECT_TRUE(snapshot(outside) == before) << "something outside the start's folder changed";
        const std::set<std::wstring> left = folders();
        EXPECT_FALSE(left.count(*during.begin()));
        EXPECT_FALSE(has_trash(left));
        const std::vector<std::wstring> kept = left_for_good(left);
        if (!under_wine()) {
            EXPECT_EQ(left, std::set<std::wstring>{});
            continue;
        }
        ASSERT_EQ(kept.size(), 1u);
        remove_link(parent_ + L"\\" + kept[0] + L"\\data\\link");
        remove_tree(parent_ + L"\\" + kept[0]);
    }
}

// The removal itself, in this process.
TEST(RemoveTree, RemovesAnyDepthAndStopsAtWhatCannotGoOrAtItsDeadline)
{
    const std::wstring scratch = make_scratch_dir(L"remove-tree");
    const FinalPath parent = final_path_of(scratch);
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
    write_file(root + L"\\read-only.txt", "r");
    ASSERT_TRUE(SetFileAttributesW((root + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));

    // No time left: nothing goes.
    EXPECT_EQ(remove_tree(root.c_str(), parent, L"tree", GetTickCount64() - 1), TREE_STOPPED);
    EXPECT_TRUE(file_exists(deep + L"\\a.txt"));

    // A file held open without sharing deletion stops it there, quietly,
    // for a later removal.
    const std::wstring held_path = root + L"\\level0\\level1\\b.txt";
    HANDLE held = CreateFileW(held_path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(remove_tree(root.c_str(), parent, L"tree", GetTickCount64() + 60000), TREE_STOPPED);
    EXPECT_TRUE(file_exists(held_path));
    CloseHandle(held);

    // Named as another folder of the parent: not the folder meant.
    EXPECT_EQ(remove_tree(root.c_str(), parent, L"other", GetTickCount64() + 60000), TREE_LEFT);
    EXPECT_TRUE(file_exists(root));

    EXPECT_EQ(remove_tree(root.c_str(), parent, L"tree", GetTickCount64() + 60000), TREE_REMOVED);
    EXPECT_FALSE(file_exists(root));
    EXPECT_TRUE(file_exists(scratch)) << "only the tree goes";
    // A folder that is not there is not removed.
    EXPECT_EQ(remove_tree(root.c_str(), parent, L"tree", GetTickCount64() + 60000), TREE_STOPPED);

    // A tree whose paths pass what the launcher names (4095 units) is left
    // for good. (Its path is made long by its spelling, "..\" parts that
    // come back to the same folder: under Wine a folder that deep would
    // pass the Unix path limit.)
    const std::wstring last = scratch.substr(scratch.rfind(L'\\') + 1);
    std::wstring long_spelling = scratch;
    while (long_spelling.size() < WIDE_PATH_CAPACITY - 600) long_spelling += L"\\..\\" + last;
    std::wstring deepest = root;
    for (int level = 0; level < 3; level++) deepest += L"\\" + std::wstring(200, L'd');
    write_file(deepest + L"\\f.txt", "f");
    EXPECT_EQ(remove_tree((long_spelling + L"\\tree").c_str(), parent, L"tree", GetTickCount64() + 60000),
              TREE_LEFT);
    EXPECT_TRUE(file_exists(deepest + L"\\f.txt"));
    remove_tree(scratch);
}

// A link in a tree being removed, whatever it leads to, is never followed:
// what lies outside the tree stays byte for byte. On Windows the link opens
// as itself, a reparse point, and goes as a link, and the tree with it.
// Under Wine a link to a file lists as a plain file and a link to a folder
// as a reparse point, both open as their targets, and a link to nothing or
// to itself is not listed at all: the tree is left for good, with the link
// in it.
TEST(RemoveTree, NeverFollowsALink)
{
    struct Case {
        const char *what;
        const wchar_t *target;  // in the folder outside; null: the link itself
        bool folder;
    } cases[] = {
        {"a link to a file", L"file.txt", false},      {"a link to a full folder", L"full", true},
        {"a link to an empty folder", L"empty", true}, {"a link to nothing", L"nothing", false},
        {"a link to itself", nullptr, false},
    };
    for (const Case &c : cases) {
        for (const wchar_t *where : {L"", L"sub\\"}) {
            SCOPED_TRACE(std::string(c.what) + (where[0] ? " in a subfolder" : ""));
            const std::wstring scratch = make_scratch_dir(L"remove-links");
            const std::wstring outside = scratch + L"\\outside";
            write_file(outside + L"\\file.txt", "the user's own");
            write_file(outside + L"\\full\\deep\\x.txt", "another program's");
            ASSERT_TRUE(CreateDirectoryW((outside + L"\\empty").c_str(), NULL));
            const std::map<std::wstring, std::string> before = snapshot(outside);
            const std::wstring root = scratch + L"\\tree";
            write_file(root + L"\\" + where + L"a.txt", "a");
            const std::wstring link = root + L"\\" + where + L"link";
            make_link(link, c.target != nullptr ? outside + L"\\" + c.target : link, c.folder);

            const TreeRemoval removal =
                remove_tree(root.c_str(), final_path_of(scratch), L"tree", GetTickCount64() + 60000);
            EXPECT_TRUE(snapshot(outside) == before) << "something outside the tree changed";
            if (under_wine()) {
                EXPECT_EQ(removal, TREE_LEFT);
            } else {
                EXPECT_EQ(removal, TREE_REMOVED);
                EXPECT_FALSE(file_exists(root));
            }
            remove_link(link);
            remove_tree(scratch);
        }
    }
}

}  // namespace
