// Many copies of one packed application started at the same moment: every
// launcher ends with the application's own exit code, and the unpack folder
// ends byte-identical to the application folder. Cold starts race on an
// empty folder; warm ones meet a running copy that holds a shipped empty
// file open.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const int COPIES = 8;

// The packed launcher under test: checking warm starts by content, or by metadata.
const wchar_t *g_launcher = L"parallel_onefile.exe";

std::wstring launcher_path()
{
    return test_bin_dir() + L"\\" + g_launcher;
}

// Every file under dir, by its path relative to dir, with its content; the
// launcher's own state file left out.
std::map<std::wstring, std::string> files_under(const std::wstring &dir)
{
    std::map<std::wstring, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().filename().wstring().rfind(L".zobrel-state", 0) != 0) {
            out[std::filesystem::relative(it->path(), dir).wstring()] = read_file(it->path().wstring());
        }
    }
    return out;
}

struct Started {
    PROCESS_INFORMATION process = {};
    std::wstring out_path, err_path;
};

// Starts the launcher suspended, with its own output files, TEMP and TMP set
// to temp (its unpack folder is {TEMP}\zobrel-parallel) and extra variables.
Started start_suspended(const std::wstring &temp, const std::wstring &logs, int index,
                        const std::vector<std::pair<std::wstring, std::wstring>> &vars)
{
    Started s;
    s.out_path = logs + L"\\out" + std::to_wstring(index);
    s.err_path = logs + L"\\err" + std::to_wstring(index);
    HANDLE out = open_inheritable(s.out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = open_inheritable(s.err_path, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = NULL;
    si.hStdOutput = out;
    si.hStdError = err;
    RunOptions environment;
    environment.set_env = {{L"TEMP", temp}, {L"TMP", temp}};
    environment.set_env.insert(environment.set_env.end(), vars.begin(), vars.end());
    std::vector<wchar_t> env_block = environment_block(environment);
    std::wstring command = quote_argument(launcher_path()) + L" copy" + std::to_wstring(index);
    BOOL ok = create_process(launcher_path().c_str(), &command[0], TRUE,
                             CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, env_block.data(), NULL, &si,
                             &s.process);
    // The error is read before anything else can change it.
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(ok) << "cannot start " << narrow(launcher_path()) << ": error " << error;
    return s;
}

struct Ended {
    DWORD exit_code = 0;
    std::string out, err;
};

Ended wait_for(Started &s)
{
    Ended e;
    if (s.process.hProcess == NULL) {
        e.exit_code = 0xFFFFFFFF;  // never started; already reported
        return e;
    }
    if (WaitForSingleObject(s.process.hProcess, 180000) != WAIT_OBJECT_0) {
        TerminateProcess(s.process.hProcess, 0xDEAD);
        WaitForSingleObject(s.process.hProcess, INFINITE);
        ADD_FAILURE() << "a launcher did not end within 3 minutes";
    }
    GetExitCodeProcess(s.process.hProcess, &e.exit_code);
    CloseHandle(s.process.hThread);
    CloseHandle(s.process.hProcess);
    e.out = read_file(s.out_path);
    e.err = read_file(s.err_path);
    return e;
}

// Starts COPIES launchers suspended, lets them all go at once and waits for
// each; every one must end with the application's exit code and say nothing.
void start_together(const std::wstring &temp, const std::wstring &logs,
                    const std::vector<std::pair<std::wstring, std::wstring>> &vars)
{
    std::vector<Started> started;
    for (int i = 0; i < COPIES; i++) started.push_back(start_suspended(temp, logs, i, vars));
    for (Started &s : started) {
        if (s.process.hThread != NULL) ResumeThread(s.process.hThread);
    }
    for (int i = 0; i < COPIES; i++) {
        Ended e = wait_for(started[i]);
        EXPECT_EQ(e.exit_code, APP_EXIT_CODE) << "copy " << i << ": " << e.out << e.err;
        EXPECT_EQ(e.out + e.err, "") << "copy " << i;
    }
}

FILETIME old_time()
{
    return FILETIME{0x2A3B4C5D, 0x01C00000};
}

bool set_old_time(const std::wstring &path)
{
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    FILETIME t = old_time();
    BOOL ok = SetFileTime(f, NULL, NULL, &t);
    CloseHandle(f);
    return ok != FALSE;
}

bool has_old_time(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME t = old_time();
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           CompareFileTime(&data.ftLastWriteTime, &t) == 0;
}

void every_copy_runs_the_application_over_byte_identical_files()
{
    const std::map<std::wstring, std::string> original = files_under(ZOBREL_PARALLEL_APP_DIR);
    ASSERT_GT(original.size(), 30u);
    ASSERT_TRUE(original.count(L"data\\empty.dat"));
    ASSERT_EQ(original.at(L"data\\empty.dat"), "");

    std::wstring temp = make_scratch_dir(L"parallel");
    const RemovedAtScopeEnd temp_removed(temp);
    std::wstring logs = make_scratch_dir(L"parallel-logs");
    const RemovedAtScopeEnd logs_removed(logs);
    std::wstring unpack = temp + L"\\zobrel-parallel";

    // Cold: an empty folder each round. Each application holds the shipped
    // empty file open for a while, so later copies check it while it is held.
    const std::vector<std::pair<std::wstring, std::wstring>> hold = {{L"APP_HOLD", L"data\\empty.dat"},
                                                                     {L"APP_HOLD_MS", L"1000"}};
    for (int round = 0; round < 5; round++) {
        SCOPED_TRACE("cold round " + std::to_string(round + 1));
        remove_tree(unpack);
        start_together(temp, logs, hold);
        EXPECT_TRUE(files_under(unpack) == original);
    }

    // Warm: one copy keeps running with the empty file open while eight more
    // start together; none of them writes anything.
    for (const auto &f : original) ASSERT_TRUE(set_old_time(unpack + L"\\" + f.first)) << narrow(f.first);
    std::wstring held = logs + L"\\held", release = logs + L"\\release";
    Started holder =
        start_suspended(temp, logs, COPIES,
                        {{L"APP_HOLD", L"data\\empty.dat"}, {L"APP_HELD", held}, {L"APP_RELEASE", release}});
    ResumeThread(holder.process.hThread);
    for (int i = 0; i < 6000 && !file_exists(held); i++) Sleep(20);
    ASSERT_TRUE(file_exists(held)) << "the running copy never opened the empty file";
    start_together(temp, logs, {});
    write_file(release, "");
    Ended e = wait_for(holder);
    EXPECT_EQ(e.exit_code, APP_EXIT_CODE) << e.out << e.err;
    EXPECT_TRUE(files_under(unpack) == original);
    for (const auto &f : original) EXPECT_TRUE(has_old_time(unpack + L"\\" + f.first)) << narrow(f.first);
}

TEST(ParallelStarts, EveryCopyRunsTheApplicationOverByteIdenticalFiles)
{
    g_launcher = L"parallel_onefile.exe";
    every_copy_runs_the_application_over_byte_identical_files();
}

// The same with warm starts checked by metadata: the state file is read and
// written under the same lock.
TEST(ParallelStarts, CheckedByMetadataToo)
{
    g_launcher = L"parallel_meta_onefile.exe";
    every_copy_runs_the_application_over_byte_identical_files();
}

}  // namespace
