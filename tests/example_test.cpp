// The example application packed into a real launcher: the first run
// unpacks it and runs it, the second finds every file in place and writes
// nothing, and a damaged unpack folder is repaired by the next run.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>

#include "process_runner.h"
#include "test_paths.h"

namespace {

// The files of the application, relative to its folder.
const wchar_t *const APP_FILES[] = {L"vexor.exe", L"greeter.dll", L"data\\greeting.txt"};

std::wstring launcher_path()
{
    return test_bin_dir() + L"\\example\\vexor.exe";
}

std::wstring app_dir()
{
    return std::filesystem::weakly_canonical(test_bin_dir() + L"\\..\\examples\\vexor-app").wstring();
}

// Runs the launcher as a user would type it: "vexor", no extension.
RunResult run_vexor(const std::wstring &temp)
{
    RunOptions options;
    options.application = launcher_path();
    options.command_line = L"vexor hello \"two words\" --exit 3";
    options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
    return run_process(options);
}

// An old fixed time, set on unpacked files so that any rewrite shows.
const FILETIME OLD_TIME = {0x2A3B4C5D, 0x01C00000};

bool set_old_time(const std::wstring &path)
{
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    BOOL ok = SetFileTime(f, NULL, NULL, &OLD_TIME);
    CloseHandle(f);
    return ok != FALSE;
}

bool has_old_time(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    return CompareFileTime(&data.ftLastWriteTime, &OLD_TIME) == 0;
}

void expect_a_good_run(const RunResult &r, const std::string &unpack_dir)
{
    EXPECT_EQ(r.exit_code, 3u) << r.standard_error;
    const std::string &out = r.standard_output;
    // Its own DLL and its data file were found next to it in the unpack folder.
    EXPECT_NE(out.find("vexor demo: running from the unpacked folder\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("program: " + unpack_dir + "\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("data: Hello from a data file that travelled inside the executable.\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("argv[0]: [" + narrow(launcher_path()) + "]\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("argv[2]: [two words]\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ZOBREL_ONEFILE_PARENT=" + std::to_string(r.process_id) + "\r\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("ZOBREL_ONEFILE_DIRECTORY=" + narrow(test_bin_dir()) + "\\example\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("ZOBREL_ORIGINAL_ARGV0=vexor\r\n"), std::string::npos) << out;
}

TEST(Example, RunsThenReusesThenRepairsItsUnpackedFiles)
{
    std::wstring temp = make_scratch_dir(L"example");
    const RemovedAtScopeEnd temp_removed(temp);
    std::wstring unpack = temp + L"\\MOLTARN\\vexor\\0.2.0-0.2.0.0";
    std::map<std::wstring, std::string> originals;
    for (const wchar_t *file : APP_FILES) {
        originals[file] = read_file(app_dir() + L"\\" + file);
        ASSERT_FALSE(originals[file].empty()) << narrow(file) << " missing from " << narrow(app_dir());
    }

    // First run: everything is unpacked, byte for byte, and the program runs.
    RunResult first = run_vexor(temp);
    expect_a_good_run(first, narrow(unpack));
    for (const wchar_t *file : APP_FILES) {
        SCOPED_TRACE(narrow(file));
        EXPECT_TRUE(read_file(unpack + L"\\" + file) == originals[file]);
        ASSERT_TRUE(set_old_time(unpack + L"\\" + file));
    }

    // Second run: every file already matches, none is written.
    RunResult second = run_vexor(temp);
    expect_a_good_run(second, narrow(unpack));
    for (const wchar_t *file : APP_FILES) {
        EXPECT_TRUE(has_old_time(unpack + L"\\" + file)) << narrow(file) << " was rewritten";
    }

    // Damage: one file changed (same size), one deleted. The next run puts
    // both back and leaves the intact one alone.
    std::string changed = originals[L"data\\greeting.txt"];
    changed[0] ^= 0x20;
    write_file(unpack + L"\\data\\greeting.txt", changed);
    ASSERT_TRUE(set_old_time(unpack + L"\\data\\greeting.txt"));
    ASSERT_TRUE(DeleteFileW((unpack + L"\\greeter.dll").c_str()));

    RunResult third = run_vexor(temp);
    expect_a_good_run(third, narrow(unpack));
    EXPECT_TRUE(read_file(unpack + L"\\data\\greeting.txt") == originals[L"data\\greeting.txt"]);
    EXPECT_FALSE(has_old_time(unpack + L"\\data\\greeting.txt"));
    EXPECT_TRUE(read_file(unpack + L"\\greeter.dll") == originals[L"greeter.dll"]);
    EXPECT_TRUE(has_old_time(unpack + L"\\vexor.exe")) << "an intact file was rewritten";
}

}  // namespace
