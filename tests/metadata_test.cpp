// Warm starts checked by metadata (zobrel-pack --check metadata), through a
// real packed launcher. Whether a start checked content or not is seen from
// outside: a file of the application held open with no sharing cannot be
// read, so a content check would find it unreadable and fail to rewrite it
// (exit 2), while a metadata check only lists its folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "links.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const wchar_t *const APP_FILES[] = {L"app.exe", L"data\\empty.dat", L"data\\text.txt"};

std::wstring unpacked(const std::wstring &temp, const std::wstring &name)
{
    return temp + L"\\zobrel-meta\\" + name;
}

void expect_whole_application(const std::wstring &temp)
{
    for (const wchar_t *name : APP_FILES) {
        EXPECT_TRUE(read_file(unpacked(temp, name)) ==
                    read_file(widen(ZOBREL_METADATA_APP_DIR) + L"\\" + name))
            << narrow(name);
    }
}

// Runs the launcher while data\text.txt is held open with no sharing: only a
// start that opens no file for its content gets through.
RunResult run_holding_a_file(const std::wstring &temp)
{
    HANDLE held = CreateFileW(unpacked(temp, L"data\\text.txt").c_str(), GENERIC_READ, /* no sharing */ 0,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    RunResult r = run_with_temp(test_program(L"metadata_onefile.exe"), temp);
    CloseHandle(held);
    return r;
}

TEST(MetadataCheck, AnUntouchedFolderIsCheckedWithoutOpeningAFileAndExtraFilesAreIgnored)
{
    const std::wstring temp = make_scratch_dir(L"meta-fast");
    ASSERT_EQ(run_with_temp(test_program(L"metadata_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
    EXPECT_TRUE(file_exists(unpacked(temp, L".zobrel-state")));
    write_file(unpacked(temp, L"data\\extra.txt"), "not the application's");
    RunResult fast = run_holding_a_file(temp);
    EXPECT_EQ(fast.exit_code, APP_EXIT_CODE) << fast.standard_output << fast.standard_error;
    // And what the trick shows: without a state file the content is
    // checked, and the held file stops the start.
    DeleteFileW(unpacked(temp, L".zobrel-state").c_str());
    RunResult without_state = run_holding_a_file(temp);
    EXPECT_EQ(without_state.exit_code, 2u);
    remove_tree(temp);
}

// Sets a file's last-write time to that of another.
void copy_write_time(const std::wstring &from, const std::wstring &to)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(from.c_str(), GetFileExInfoStandard, &data));
    HANDLE file = CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, NULL, NULL, &data.ftLastWriteTime));
    CloseHandle(file);
}

TEST(MetadataCheck, AnythingElseIsCheckedByContentRepairedAndRecordedAfresh)
{
    struct Case {
        const char *what;
        std::function<void(const std::wstring &temp)> change;
    } cases[] = {
        {"content changed, with its size and time",
         [](const std::wstring &temp) { write_file(unpacked(temp, L"data\\text.txt"), "changed"); }},
        // Same size and the same last-write time: only the file's identity tells.
        {"replaced by another file of the same size and time",
         [](const std::wstring &temp) {
             const std::wstring target = unpacked(temp, L"data\\text.txt"), other = target + L".other";
             write_file(other, std::string(read_file(target).size(), 'x'));
             copy_write_time(target, other);
             ASSERT_TRUE(MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
         }},
        {"a file deleted", [](const std::wstring &temp) { DeleteFileW(unpacked(temp, L"app.exe").c_str()); }},
        {"the state file damaged",
         [](const std::wstring &temp) {
             std::string state = read_file(unpacked(temp, L".zobrel-state"));
             state[state.size() / 2] ^= 1;
             write_file(unpacked(temp, L".zobrel-state"), state);
             write_file(unpacked(temp, L"data\\text.txt"), "changed");
         }},
        {"the state file cut short",
         [](const std::wstring &temp) {
             std::string state = read_file(unpacked(temp, L".zobrel-state"));
             write_file(unpacked(temp, L".zobrel-state"), state.substr(0, state.size() - 5));
         }},
        // A start killed while writing the state leaves the partial file, never a half state.
        {"a partial state file left, no state file",
         [](const std::wstring &temp) {
             write_file(unpacked(temp, L".zobrel-state.new"), "ZOBSTAT1 cut");
             DeleteFileW(unpacked(temp, L".zobrel-state").c_str());
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring temp = make_scratch_dir(L"meta-repair");
        ASSERT_EQ(run_with_temp(test_program(L"metadata_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
        c.change(temp);
        RunResult r = run_with_temp(test_program(L"metadata_onefile.exe"), temp);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        expect_whole_application(temp);
        // The content check recorded a fresh state: the next start is fast again.
        RunResult fast = run_holding_a_file(temp);
        EXPECT_EQ(fast.exit_code, APP_EXIT_CODE) << "no fresh state file: " << fast.standard_error;
        remove_tree(temp);
    }
}

// The state file is written through a handle checked to be where it is
// meant to be: a link under its name or under the name it is written aside
// is never written through, whatever it leads to. A link in the state
// file's own place is replaced by the new state file (a rename replaces a
// link, it never follows one); one in the aside name leaves the old state,
// and the start goes on. (Under Wine a link to a file lists as a plain file
// and a write by name goes to its target; on Windows it is a reparse
// point; the launcher treats both alike.)
TEST(MetadataCheck, AStateFileNameThatIsALinkIsNeverWrittenThrough)
{
    struct Case {
        const char *what;
        const wchar_t *name;    // the link, in the unpack folder
        const wchar_t *target;  // in the folder outside
        bool replaced;          // a state file takes its place
    } cases[] = {
        {"the state file a link to a file", L".zobrel-state", L"file.txt", true},
        {"the aside name a link to a file", L".zobrel-state.new", L"file.txt", false},
        {"the aside name a link to nothing", L".zobrel-state.new", L"nothing.txt", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring temp = make_scratch_dir(L"meta-links");
        const std::wstring outside = temp + L"\\outside";
        write_file(outside + L"\\file.txt", "the user's own");
        const std::map<std::wstring, std::string> before = snapshot(outside);
        ASSERT_EQ(run_with_temp(test_program(L"metadata_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
        const std::wstring link = unpacked(temp, c.name);
        DeleteFileW(link.c_str());
        make_link(link, outside + L"\\" + c.target, false);
        // A change the start repairs, and then records.
        write_file(unpacked(temp, L"data\\text.txt"), "changed");
        RunResult r = run_with_temp(test_program(L"metadata_onefile.exe"), temp);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        expect_whole_application(temp);
        EXPECT_TRUE(snapshot(outside) == before) << "something outside the unpack folder changed";
        EXPECT_EQ(run_holding_a_file(temp).exit_code == APP_EXIT_CODE, c.replaced) << "a fresh state file";
        if (!c.replaced) remove_link(link);
        remove_tree(temp);
    }
}

TEST(MetadataCheck, AStateFileOfAnotherBuildIsNotTrusted)
{
    const std::wstring temp = make_scratch_dir(L"meta-other");
    // Another build over the same folder: its files and its state file.
    ASSERT_EQ(run_with_temp(test_program(L"metadata_other_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
    ASSERT_EQ(run_with_temp(test_program(L"metadata_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
    write_file(unpacked(temp, L"data\\text.txt"), "changed");
    ASSERT_EQ(run_with_temp(test_program(L"metadata_other_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
    // The other build's state names another index: this build checks content.
    RunResult r = run_with_temp(test_program(L"metadata_onefile.exe"), temp);
    EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_error;
    expect_whole_application(temp);
    EXPECT_EQ(run_holding_a_file(temp).exit_code, APP_EXIT_CODE);
    remove_tree(temp);
}

}  // namespace
