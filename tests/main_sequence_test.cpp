// The main sequence through a real packed launcher: it finds its build
// constants in its own image, unpacks and starts the first record; and where
// each early end happens, what it prints, and what it leaves on disk, with
// copies of it that break one thing each.
#include <gtest/gtest.h>

#include <functional>

#include "build_constants.h"
#include "packed_file.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

TEST(MainSequence, FindsItsConstantsUnpacksThenStartsTheFirstRecord)
{
    std::wstring temp = make_scratch_dir(L"seq-ok");
    const RemovedAtScopeEnd temp_removed(temp);
    RunResult r = run_with_temp(test_program(L"sequence_app.exe"), temp, L"arg");
    EXPECT_EQ(r.exit_code, 0u) << r.standard_error;
    EXPECT_EQ(read_file(temp + L"\\zobrel-variant\\ok\\report_child.exe"),
              read_file(test_bin_dir() + L"\\report-app\\report_child.exe"));
    EXPECT_NE(r.standard_output.find("argc=2"), std::string::npos) << "the child ran: " << r.standard_output;
}

TEST(MainSequence, EarlyEndsLeaveNothingOnDisk)
{
    const std::string original = read_file(test_program(L"sequence_app.exe"));
    struct Case {
        const char *what;
        std::function<void(std::string &)> edit;
        const char *out;
        const char *err;
        DWORD exit_code;
    } cases[] = {
        // Constants that fail their CRC-32, or are missing, are as good as no payload.
        {"constants damaged",
         [](std::string &image) { image[find_section(image, CONSTANTS_SECTION_NAME).raw_offset + 40] ^= 1; },
         "Error, couldn't find attached data header.\r\n", "", 2},
        {"no constants section",
         [](std::string &image) {
             image[find_section(image, CONSTANTS_SECTION_NAME).header_offset + 7] = 'X';
         },
         "Error, couldn't find attached data header.\r\n", "", 2},
        // The payload header is checked before any directory or file is made.
        {"payload header",
         [](std::string &image) { image[find_section(image, PAYLOAD_SECTION_NAME).raw_offset + 2] = 'y'; },
         "Error, couldn't find attached data header.\r\n", "", 2},
        // The specification is quoted as built, braces and all.
        {"unknown key",
         [](std::string &image) { replace_target_spec(image, u"{TEMP}\\zobrel-variant\\{NOPE}"); }, "",
         "Error, couldn't runtime expand spec '{TEMP}\\zobrel-variant\\{NOPE}'.\r\n", FAIL_FAST_STATUS},
        // Nothing expanded, so nothing can be made absolute: no message at all.
        {"empty expansion", [](std::string &image) { replace_target_spec(image, u"{NOPE}\\x"); }, "", "",
         FAIL_FAST_STATUS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring temp = make_scratch_dir(L"seq-early");
        const RemovedAtScopeEnd temp_removed(temp);
        std::string image = original;
        c.edit(image);
        ASSERT_NE(image, original);
        write_file(temp + L"\\edited.exe", image);
        RunResult r = run_with_temp(temp + L"\\edited.exe", temp, L"arg");
        EXPECT_EQ(r.standard_output, c.out);
        EXPECT_EQ(r.standard_error, c.err);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_FALSE(file_exists(temp + L"\\zobrel-variant"));
    }
}

// A temporary folder longer than the room left cannot be had: the expansion
// fails (nothing expanded, so nothing can be made absolute: no message) and
// nothing is unpacked anywhere else, such as at the root of the current drive.
TEST(MainSequence, ATemporaryFolderThatDoesNotFitUnpacksNothing)
{
    std::wstring cwd = make_scratch_dir(L"seq-long-temp");
    const RemovedAtScopeEnd cwd_removed(cwd);
    std::wstring root_folder = cwd.substr(0, 3) + L"zobrel-variant";
    remove_tree(root_folder);
    for (size_t length : {size_t(300), size_t(5000)}) {
        SCOPED_TRACE(length);
        RunOptions options;
        options.command_line = quote_argument(test_program(L"sequence_app.exe")) + L" arg";
        std::wstring temp = cwd + L"\\" + std::wstring(length, L't');
        options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
        options.current_directory = cwd;
        RunResult r = run_process(options);
        EXPECT_EQ(r.exit_code, FAIL_FAST_STATUS);
        EXPECT_EQ(r.standard_output, "");
        EXPECT_EQ(r.standard_error, "");
        EXPECT_FALSE(file_exists(root_folder));
        EXPECT_FALSE(file_exists(cwd + L"\\zobrel-variant"));
    }
    remove_tree(root_folder);
}

// A temporary folder set to a relative path fails the expansion: nothing is
// unpacked where the platform would have put it, under the current folder.
TEST(MainSequence, ATemporaryFolderSetToARelativePathUnpacksNothing)
{
    std::wstring cwd = make_scratch_dir(L"seq-relative-temp");
    const RemovedAtScopeEnd cwd_removed(cwd);
    RunOptions options;
    options.command_line = quote_argument(test_program(L"sequence_app.exe")) + L" arg";
    options.set_env = {{L"TEMP", L"reltmp"}};
    options.unset_env = {L"TMP"};
    options.current_directory = cwd;
    RunResult r = run_process(options);
    EXPECT_EQ(r.exit_code, FAIL_FAST_STATUS);
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.standard_error, "");  // nothing expanded, so nothing to quote
    EXPECT_FALSE(file_exists(cwd + L"\\reltmp"));
}

}  // namespace
