// A real interpreter-based tool from the npm registry: TypeScript's compiler
// run by Node.js for Windows, packed with node.exe as the main program and
// tsc's script as a fixed argument (tests/real_tool_setup.sh fetches and
// packs them at test time). Packed, it must behave as the tool run directly
// (node.exe and the script where the application folder has them): the
// same output, the same files written, the same exit codes, for a run that
// succeeds and runs that fail.
//
// Wine reports itself as Windows 7, which Node.js 16 refuses unless
// NODE_SKIP_PLATFORM_CHECK is set: both runs get it, from the test.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "process_runner.h"
#include "test_paths.h"

namespace {

std::wstring windows_path(const char *unix_style)
{
    std::wstring path = widen(unix_style);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

const std::wstring TOOL_DIR = windows_path(ZOBREL_REAL_TOOL_DIR);

// Every file under dir, by relative name.
std::map<std::wstring, std::string> files_in(const std::wstring &dir)
{
    std::map<std::wstring, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), dir).wstring()] = read_file(entry.path().wstring());
        }
    }
    return files;
}

// A small project: one file that compiles, one with a type error.
void write_project(const std::wstring &dir)
{
    write_file(dir + L"\\hello.ts", "const greet = (name: string): string => `hello, ${name}`;\n"
                                    "console.log(greet(\"world\"));\n");
    write_file(dir + L"\\bad.ts", "const n: number = \"not a number\";\n");
}

RunResult run_in(const std::wstring &dir, const std::wstring &command_line, const std::wstring &temp)
{
    RunOptions options;
    options.command_line = command_line;
    options.current_directory = dir;
    options.set_env = {{L"NODE_SKIP_PLATFORM_CHECK", L"1"}, {L"TMP", temp}, {L"TEMP", temp}};
    options.timeout_ms = 300000;
    return run_process(options);
}

TEST(RealTool, PackedTscBehavesAsTscRunDirectly)
{
    const std::wstring unavailable = TOOL_DIR + L"\\unavailable.txt";
    if (file_exists(unavailable)) GTEST_SKIP() << read_file(unavailable);
    ASSERT_TRUE(file_exists(TOOL_DIR + L"\\tsc.exe")) << "tests/real_tool_setup.sh did not run";

    const std::wstring temp = make_scratch_dir(L"real-tool-temp");
    const RemovedAtScopeEnd temp_removed(temp);
    const std::wstring packed = quote_argument(TOOL_DIR + L"\\tsc.exe");
    const std::wstring direct = quote_argument(TOOL_DIR + L"\\app\\node.exe") + L" " +
                                quote_argument(TOOL_DIR + L"\\app\\node_modules\\typescript\\bin\\tsc");
    struct Case {
        const char *what;
        std::wstring arguments;
        DWORD status;         // checked too, so that two runs failing
        const char *printed;  // alike cannot pass
    } cases[] = {
        {"the version", L" --version", 0, "Version 5.4.5"},
        {"a file that compiles", L" hello.ts --target es2017", 0, ""},
        {"a type error", L" bad.ts", 2, "error TS2322"},
        {"a file that is not there", L" missing.ts", 2, "error TS6053"},
        {"an unknown option", L" --no-such-option", 1, "error TS5023"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring packed_dir = make_scratch_dir(L"real-tool-packed");
        const RemovedAtScopeEnd packed_dir_removed(packed_dir);
        const std::wstring direct_dir = make_scratch_dir(L"real-tool-direct");
        const RemovedAtScopeEnd direct_dir_removed(direct_dir);
        write_project(packed_dir);
        write_project(direct_dir);
        RunResult p = run_in(packed_dir, packed + c.arguments, temp);
        RunResult d = run_in(direct_dir, direct + c.arguments, temp);
        EXPECT_EQ(d.exit_code, c.status) << d.standard_output << d.standard_error;
        EXPECT_NE((d.standard_output + d.standard_error).find(c.printed), std::string::npos)
            << d.standard_output;
        EXPECT_EQ(p.exit_code, d.exit_code);
        EXPECT_EQ(p.standard_output, d.standard_output);
        EXPECT_EQ(p.standard_error, d.standard_error);
        EXPECT_EQ(files_in(packed_dir), files_in(direct_dir)) << "the files written differ";
        if (c.status == 0 && c.arguments.find(L"hello.ts") != std::wstring::npos) {
            EXPECT_NE(read_file(packed_dir + L"\\hello.js").find("console.log(greet(\"world\"))"),
                      std::string::npos);
        }
    }

    // info on it: the fixed argument, and the folder it unpacked into.
    RunOptions info;
    info.command_line = quote_argument(windows_path(ZOBREL_WINDOWS_PACK)) + L" info --json " + packed;
    info.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
    RunResult shown = run_process(info);
    EXPECT_EQ(shown.exit_code, 0u) << shown.standard_error;
    EXPECT_NE(shown.standard_output.find(
                  "\"arguments\": [\"{UNPACK_DIR}\\\\node_modules\\\\typescript\\\\bin\\\\tsc\"]"),
              std::string::npos)
        << shown.standard_output;
    EXPECT_TRUE(file_exists(temp + L"\\zobrel-real-tool\\node_modules\\typescript\\bin\\tsc"));
}

}  // namespace
