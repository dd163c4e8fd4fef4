// DLLs planted beside a packed executable: the launcher loads none of them,
// and the packed program still runs with its exit code.
//
// Windows looks for a DLL it does not pin as a known DLL in the program's
// own folder first. Wine keeps its own DLLs apart, so it is told, per DLL,
// to prefer one beside the program (NAME=n,b in WINEDLLOVERRIDES, which Wine
// reads from the Unix environment its processes start with, so the test's
// definition sets it), as Windows does. A control program that loads a DLL by its bare name shows that the
// planted copy is then found: without it the main check would prove
// nothing. What Wine cannot show: which DLLs the Windows shell pulls in at
// start-up on a given Windows version (the names below are those commonly
// planted against installers and self-extractors).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "process_runner.h"
#include "test_paths.h"

namespace {

// The DLLs planted: those Wine was told to prefer beside the program, read
// from the test's environment ("name,name,...=n,b").
std::vector<std::wstring> planted_names()
{
    wchar_t value[4096];
    DWORD length = GetEnvironmentVariableW(L"ZOBREL_WINE_EXTRA_OVERRIDES", value, 4096);
    std::vector<std::wstring> names;
    if (length == 0 || length >= 4096) return names;
    std::wstring list(value, length);
    list = list.substr(0, list.find(L'='));
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(L',', at);
        if (comma == std::wstring::npos) comma = list.size();
        if (comma > at) names.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return names;
}

// A folder holding the program and a planted copy of every DLL above.
std::wstring folder_with_planted_dlls(const std::wstring &program)
{
    std::wstring dir = make_scratch_dir(L"planted");
    const std::vector<std::wstring> planted = planted_names();
    EXPECT_GE(planted.size(), 9u) << "ZOBREL_WINE_EXTRA_OVERRIDES names the planted DLLs";
    for (const std::wstring &name : planted) {
        EXPECT_TRUE(CopyFileW(test_program(L"planted_dll.dll").c_str(),
                              (dir + L"\\" + name + L".dll").c_str(), FALSE))
            << narrow(name);
    }
    std::wstring base = program.substr(program.find_last_of(L'\\') + 1);
    EXPECT_TRUE(CopyFileW(program.c_str(), (dir + L"\\" + base).c_str(), FALSE));
    return dir;
}

std::vector<std::string> loaded_markers(const std::wstring &dir)
{
    std::vector<std::string> loaded;
    for (const std::wstring &name : planted_names()) {
        if (file_exists(dir + L"\\" + name + L".dll.loaded")) loaded.push_back(narrow(name));
    }
    return loaded;
}

TEST(DllSearch, APlantedDllIsFoundBesideAProgramThatTakesNoCare)
{
    std::wstring dir = folder_with_planted_dlls(test_program(L"plain_loader.exe"));
    const RemovedAtScopeEnd dir_removed(dir);
    RunOptions options;
    options.application = dir + L"\\plain_loader.exe";
    options.command_line = L"plain_loader.exe version.dll";
    RunResult run = run_process(options);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_error;
    EXPECT_EQ(loaded_markers(dir), std::vector<std::string>{"version"})
        << "the planted copy must be what a careless program loads";
}

TEST(DllSearch, NonePlantedBesideAPackedExecutableLoadsIntoTheLauncher)
{
    std::wstring dir = folder_with_planted_dlls(test_program(L"report_onefile.exe"));
    const RemovedAtScopeEnd dir_removed(dir);
    RunOptions options;
    options.application = dir + L"\\report_onefile.exe";
    options.command_line = L"report_onefile.exe planted";
    options.set_env = {{L"REPORT_EXIT", L"0xC0DE0024"}, {L"REPORT_OUT", dir + L"\\report.txt"}};
    RunResult run = run_process(options);
    EXPECT_EQ(run.exit_code, 0xC0DE0024u) << run.standard_error;
    EXPECT_TRUE(file_exists(dir + L"\\report.txt")) << "the packed program ran";
    EXPECT_EQ(loaded_markers(dir), std::vector<std::string>{});
}

}  // namespace
