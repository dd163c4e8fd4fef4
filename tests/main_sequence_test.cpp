// The main sequence through the real entry point: where each early end
// happens, what it prints, and what it leaves on disk.
#include <gtest/gtest.h>

#include "process_runner.h"
#include "test_paths.h"

namespace {

// Runs a test launcher with its temporary folder (and so its unpack
// directory) inside a fresh scratch directory.
RunResult run_variant(const std::wstring &program, const std::wstring &temp)
{
    RunOptions options;
    options.command_line = quote_argument(test_program(program)) + L" arg";
    options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
    return run_process(options);
}

TEST(MainSequence, UnpacksThenStartsTheFirstRecord)
{
    std::wstring temp = make_scratch_dir(L"seq-ok");
    RunResult r = run_variant(L"variant_ok.exe", temp);
    // The one record is a text file, which cannot be started: the launch is
    // the step that fails, after the record has been written.
    EXPECT_EQ(read_file(temp + L"\\zobrel-variant\\ok\\a.txt"), "hi");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.standard_error.rfind("Error, couldn't launch child ([Error ", 0), 0u) << r.standard_error;
    EXPECT_EQ(r.standard_error.substr(r.standard_error.size() - 3), ")\r\n");
    EXPECT_EQ(r.exit_code, 2u);
    remove_tree(temp);
}

TEST(MainSequence, EarlyEndsLeaveNothingOnDisk)
{
    struct Case {
        const wchar_t *program;
        const char *out;
        const char *err;
        DWORD exit_code;
    } cases[] = {
        // The header is checked before any directory or file is made.
        {L"variant_bad_header.exe", "Error, couldn't find attached data header.\r\n", "", 2},
        // The specification is quoted as built, braces and all.
        {L"variant_unknown_key.exe", "",
         "Error, couldn't runtime expand spec '{TEMP}\\zobrel-variant\\{NOPE}'.\r\n", FAIL_FAST_STATUS},
        // Nothing expanded, so nothing can be made absolute: no message at all.
        {L"variant_empty_expansion.exe", "", "", FAIL_FAST_STATUS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.program));
        std::wstring temp = make_scratch_dir(L"seq-early");
        RunResult r = run_variant(c.program, temp);
        EXPECT_EQ(r.standard_output, c.out);
        EXPECT_EQ(r.standard_error, c.err);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_FALSE(file_exists(temp + L"\\zobrel-variant"));
        remove_tree(temp);
    }
}

// A temporary folder longer than the room left cannot be had: the expansion
// fails (nothing expanded, so nothing can be made absolute: no message) and
// nothing is unpacked anywhere else, such as at the root of the current drive.
TEST(MainSequence, ATemporaryFolderThatDoesNotFitUnpacksNothing)
{
    std::wstring cwd = make_scratch_dir(L"seq-long-temp");
    std::wstring root_folder = cwd.substr(0, 3) + L"zobrel-variant";
    remove_tree(root_folder);
    for (size_t length : {size_t(300), size_t(5000)}) {
        SCOPED_TRACE(length);
        RunOptions options;
        options.command_line = quote_argument(test_program(L"variant_ok.exe")) + L" arg";
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
    remove_tree(cwd);
}

}  // namespace
