// Files that another program holds for a moment, as antivirus scanners,
// indexers and backup agents hold a freshly written file: a second Windows
// process (helpers/hold_file.cpp) holds a file of the unpack folder open
// with no sharing while a start must rewrite it. Held for a moment, the
// start waits, repairs the file and runs the application; held past the
// bound, the start ends as it always did, with the open message and exit
// code 2. (Wine implements share modes between processes; the first test
// also shows that it does: without them nothing would be held.)
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const wchar_t HELD[] = L"data\\text.txt";

std::wstring app_file(const std::wstring &name)
{
    return widen(ZOBREL_HELD_APP_DIR) + L"\\" + name;
}

std::wstring unpacked(const std::wstring &temp, const std::wstring &name)
{
    return temp + L"\\zobrel-held\\" + name;
}

RunResult start(const std::wstring &temp, const wchar_t *launcher = L"held_onefile.exe")
{
    return run_with_temp(test_program(launcher), temp);
}

// A process that holds the file with no sharing for `ms` milliseconds from
// the moment this returns.
struct Holder {
    PROCESS_INFORMATION process = {};

    Holder(const std::wstring &path, DWORD ms, const std::wstring &scratch)
    {
        const std::wstring ready = scratch + L"\\held.ready";
        std::wstring line = quote_argument(test_program(L"hold_file.exe")) + L" " + quote_argument(path) +
                            L" " + std::to_wstring(ms) + L" " + quote_argument(ready);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        EXPECT_TRUE(CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &process));
        for (int i = 0; i < 1000 && !file_exists(ready); i++) Sleep(5);
        EXPECT_TRUE(file_exists(ready)) << "the holder did not take the file";
    }
    ~Holder()
    {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(code, 0u) << "the holder could not hold the file";
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
};

// A first start, then the held file changed so that the next start must
// rewrite it.
std::wstring unpacked_and_changed(const wchar_t *launcher = L"held_onefile.exe")
{
    const std::wstring temp = make_scratch_dir(L"held");
    RunResult first = start(temp, launcher);
    EXPECT_EQ(first.exit_code, APP_EXIT_CODE) << first.standard_output << first.standard_error;
    write_file(unpacked(temp, HELD), "changed since");
    return temp;
}

TEST(HeldFile, HeldForAMomentTheStartWaitsRepairsTheFileAndRunsTheApplication)
{
    const std::wstring temp = unpacked_and_changed();
    const RemovedAtScopeEnd temp_removed(temp);
    {
        Holder holder(unpacked(temp, HELD), 800, temp);
        // Share modes hold between processes: this process cannot read it either.
        HANDLE probe =
            CreateFileW(unpacked(temp, HELD).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(probe, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);

        RunResult r = start(temp);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        EXPECT_EQ(r.standard_output, "");
        EXPECT_EQ(r.standard_error, "");
    }
    EXPECT_EQ(read_file(unpacked(temp, HELD)), read_file(app_file(HELD)));
}

TEST(HeldFile, HeldPastTheBoundTheStartEndsWithTheOpenMessage)
{
    const std::wstring temp = unpacked_and_changed();
    const RemovedAtScopeEnd temp_removed(temp);
    {
        Holder holder(unpacked(temp, HELD), 6000, temp);
        RunResult r = start(temp);
        EXPECT_EQ(r.exit_code, 2u);
        EXPECT_EQ(r.standard_output, "");
        EXPECT_EQ(r.standard_error,
                  "Error, failed to open '" + narrow(unpacked(temp, HELD)) + "' for writing.\r\n");
    }
    EXPECT_EQ(read_file(unpacked(temp, HELD)), "changed since");
}

// Checked by metadata, a start that repaired a file records the state
// afresh: written under ".zobrel-state.new", then renamed over the old
// record. Here another program holds a ".zobrel-state.new" (left by a
// launcher killed while it wrote it) for a moment; the start waits for it.
// Whether it recorded shows at the next start: with the record up to date
// it opens no file, so a file held with no sharing past the bound does not
// stop it; without a new record it would check content and fail on that
// file. (Wine lets a rename replace a file another process holds without
// sharing, so the hold is shown on the new record's open; Windows refuses
// such a rename, and the rename waits the same way.)
TEST(HeldFile, AStateRecordHeldForAMomentIsWrittenAllTheSame)
{
    const wchar_t *launcher = L"held_meta_onefile.exe";
    const std::wstring temp = unpacked_and_changed(launcher);
    const RemovedAtScopeEnd temp_removed(temp);
    write_file(unpacked(temp, L".zobrel-state.new"), "left behind");
    {
        Holder holder(unpacked(temp, L".zobrel-state.new"), 1500, temp);
        RunResult r = start(temp, launcher);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
    }
    EXPECT_EQ(read_file(unpacked(temp, HELD)), read_file(app_file(HELD)));
    {
        Holder holder(unpacked(temp, HELD), 6000, temp);  // past the bound, for a content check
        RunResult r = start(temp, launcher);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
    }
}

}  // namespace
