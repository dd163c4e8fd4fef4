// zobrel-pack.exe, the Windows packer, run under Wine: it packs, lists,
// verifies and extracts like the Linux packer, and for the same folder and
// options both write the same bytes.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

#include "process_runner.h"
#include "test_paths.h"

namespace {

std::wstring windows_path(const char *unix_style)
{
    std::wstring path = widen(unix_style);
    for (wchar_t &c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

RunResult pack(const std::wstring &arguments)
{
    RunOptions options;
    options.command_line = quote_argument(windows_path(ZOBREL_WINDOWS_PACK)) + L" " + arguments;
    return run_process(options);
}

#if defined(ZOBREL_ARM64_APP_DIR)
// ARM64 programs, console and windowed: each gets its ARM64 launcher from
// both packers alike.
TEST(WindowsPacker, WritesWhatTheLinuxPackerWritesForArm64Programs)
{
    const std::wstring scratch = make_scratch_dir(L"wpack-arm64");
    const RemovedAtScopeEnd scratch_removed(scratch);
    for (const wchar_t *main : {L"probe", L"windowed"}) {
        SCOPED_TRACE(narrow(main));
        const std::wstring out = scratch + L"\\" + main + L".exe";
        RunResult built = pack(L"build " + quote_argument(windows_path(ZOBREL_ARM64_APP_DIR)) + L" --main " +
                               main + L".exe -o " + quote_argument(out) +
                               L" --company \"MOLTARN LLC\" --product " + main + L" --level 3 --quiet");
        ASSERT_EQ(built.exit_code, 0u) << built.standard_error;
        EXPECT_EQ(built.standard_error, "");
        const std::string windows_made = read_file(out);
        EXPECT_TRUE(windows_made ==
                    read_file(test_program(L"linux_packed_arm64_" + std::wstring(main) + L".exe")))
            << "the two packers wrote different bytes";
        RunResult info = pack(L"info " + quote_argument(out));
        EXPECT_NE(info.standard_output.find("launcher arch:   arm64"), std::string::npos)
            << info.standard_output;
    }
}
#endif

TEST(WindowsPacker, WritesWhatTheLinuxPackerWritesAndItRuns)
{
    const std::wstring scratch = make_scratch_dir(L"wpack");
    const RemovedAtScopeEnd scratch_removed(scratch);
    const std::wstring out = scratch + L"\\vexor.exe";
    RunResult built = pack(
        L"build " + quote_argument(windows_path(ZOBREL_NAMES_APP_DIR)) + L" --main vexor.exe -o " +
        quote_argument(out) +
        L" --company \"MOLTARN LLC\" --product vexor --target-spec {TEMP}\\zobrel-wpack --level 3 --quiet");
    ASSERT_EQ(built.exit_code, 0u) << built.standard_error;
    EXPECT_EQ(built.standard_error, "");
    const std::string windows_made = read_file(out);
    const std::string linux_made = read_file(test_program(L"linux_packed_names.exe"));
    ASSERT_GT(windows_made.size(), 100000u);
    EXPECT_TRUE(windows_made == linux_made) << "the two packers wrote different bytes ("
                                            << windows_made.size() << " and " << linux_made.size() << ")";
    // And with the windowed launcher and a manifest that asks for administrator rights.
    const std::wstring windowed = scratch + L"\\vexor-windowed.exe";
    RunResult built_windowed = pack(
        L"build " + quote_argument(windows_path(ZOBREL_NAMES_APP_DIR)) + L" --main vexor.exe -o " +
        quote_argument(windowed) +
        L" --company \"MOLTARN LLC\" --product vexor --target-spec {TEMP}\\zobrel-wpack --level 3 --quiet"
        L" --subsystem windows --uac-admin");
    ASSERT_EQ(built_windowed.exit_code, 0u) << built_windowed.standard_error;
    const std::string windows_made_windowed = read_file(windowed);
    EXPECT_TRUE(windows_made_windowed == read_file(test_program(L"linux_packed_names_windowed.exe")))
        << "the two packers wrote different windowed executables";
    EXPECT_TRUE(windows_made_windowed != windows_made);

    // The result runs: it unpacks under {TEMP} and starts vexor, whose exit code comes back.
    RunOptions run;
    run.command_line = quote_argument(out) + L" hello --exit 7";
    run.set_env = {{L"TMP", scratch}, {L"TEMP", scratch}};
    RunResult ran = run_process(run);
    EXPECT_EQ(ran.exit_code, 7u) << ran.standard_error;
    EXPECT_NE(ran.standard_output.find("argv[1]: [hello]"), std::string::npos) << ran.standard_output;
    EXPECT_EQ(read_file(scratch + L"\\zobrel-wpack\\donn\u00e9es\\caf\u00e9 \u00fc \u4e2d.txt"),
              "caf\u00e9\n");

    // list names the files in UTF-8; verify holds; extract gives the folder back.
    RunResult listed = pack(L"list " + quote_argument(out));
    EXPECT_EQ(listed.exit_code, 0u) << listed.standard_error;
    EXPECT_NE(listed.standard_output.find("donn\xC3\xA9"
                                          "es\\caf\xC3\xA9 \xC3\xBC \xE4\xB8\xAD.txt"),
              std::string::npos)
        << listed.standard_output;
    RunResult verified = pack(L"verify " + quote_argument(out));
    EXPECT_EQ(verified.exit_code, 0u) << verified.standard_error;
    EXPECT_NE(verified.standard_output.find("OK, 4 files"), std::string::npos) << verified.standard_output;
    RunResult extracted = pack(L"extract " + quote_argument(out) + L" " + quote_argument(scratch + L"\\x"));
    EXPECT_EQ(extracted.exit_code, 0u) << extracted.standard_error;
    EXPECT_EQ(read_file(scratch + L"\\x\\vexor.exe"),
              read_file(windows_path(ZOBREL_NAMES_APP_DIR) + L"\\vexor.exe"));
    EXPECT_EQ(read_file(scratch + L"\\x\\donn\u00e9es\\caf\u00e9 \u00fc \u4e2d.txt"), "caf\u00e9\n");
}

// The options of the looks and of leaving files out: the same bytes as
// the Linux packer's (CMake's ICON_FROM_MAIN, DESCRIPTION, COPYRIGHT and
// EXCLUDE there), with the main program given the Windows way.
TEST(WindowsPacker, WritesWhatTheLinuxPackerWritesWithTheNewerOptions)
{
    const std::wstring scratch = make_scratch_dir(L"wpack-icon");
    const RemovedAtScopeEnd scratch_removed(scratch);
    const std::wstring out = scratch + L"\\notepad.exe";
    RunResult built = pack(L"build " + quote_argument(windows_path(ZOBREL_ICON_APP_DIR)) +
                           L" --main bin\\notepad.exe -o " + quote_argument(out) +
                           L" --product notepad --description \"Notepad, packed \u2603\" --copyright"
                           L" \"\u00a9 2026 MOLTARN LLC\" --icon-from-main --exclude *.pdb"
                           L" --target-spec {TEMP}\\zobrel-icon --level 3 --quiet");
    ASSERT_EQ(built.exit_code, 0u) << built.standard_error;
    EXPECT_EQ(built.standard_error, "");
    const std::string windows_made = read_file(out);
    const std::string linux_made = read_file(test_program(L"image_icon_from_main.exe"));
    ASSERT_GT(windows_made.size(), 100000u);
    EXPECT_TRUE(windows_made == linux_made) << "the two packers wrote different bytes ("
                                            << windows_made.size() << " and " << linux_made.size() << ")";
    RunResult listed = pack(L"list " + quote_argument(out));
    EXPECT_EQ(listed.standard_output.find(".pdb"), std::string::npos) << listed.standard_output;
    EXPECT_NE(listed.standard_output.find("docs\\read me.txt"), std::string::npos) << listed.standard_output;
}

// A path as a JSON string's content: backslashes and quotes escaped.
std::string json_text(const std::wstring &path)
{
    std::string out;
    for (char c : narrow(path)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string without_cr(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(WindowsPacker, InfoShowsTheFolderItUnpacksToForThisUser)
{
    const std::wstring scratch = make_scratch_dir(L"wpack-info");
    const RemovedAtScopeEnd scratch_removed(scratch);
    wchar_t local[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, local), S_OK);
    const std::wstring exe = scratch + L"\\vexor.exe";
    struct Case {
        std::wstring spec, folder;
        const char *varies;
    } cases[] = {
        {L"{CACHE_DIR}\\{COMPANY}\\{product}", std::wstring(local) + L"\\MOLTARN LLC\\vexor", "[]"},
        // The launcher's own folder, where the executable is now; a run-unique key stays a key.
        {L"{PROGRAM_DIR}\\cache-{PID}-{random}", scratch + L"\\cache-{PID}-{RANDOM}",
         "[\"PID\", \"RANDOM\"]"},
        // Made absolute as Windows makes it: ".." taken away.
        {L"{PROGRAM_BASE}.d\\..\\x", scratch + L"\\x", "[]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.spec));
        RunResult built =
            pack(L"build " + quote_argument(windows_path(ZOBREL_NAMES_APP_DIR)) + L" --main vexor.exe -o " +
                 quote_argument(exe) +
                 L" --company \"MOLTARN LLC\" --product vexor --level 1 --quiet --target-spec " +
                 quote_argument(c.spec));
        ASSERT_EQ(built.exit_code, 0u) << built.standard_error;
        // Lines end in CR LF on Windows: compared without the CR.
        RunResult json = pack(L"info --json " + quote_argument(exe));
        EXPECT_EQ(json.exit_code, 0u) << json.standard_error;
        json.standard_output = without_cr(json.standard_output);
        EXPECT_NE(json.standard_output.find("\"unpack_dir\": \"" + json_text(c.folder) + "\",\n"),
                  std::string::npos)
            << json.standard_output;
        EXPECT_NE(json.standard_output.find(std::string("\"unpack_dir_varies\": ") + c.varies),
                  std::string::npos)
            << json.standard_output;
        RunResult text = pack(L"info " + quote_argument(exe));
        text.standard_output = without_cr(text.standard_output);
        EXPECT_NE(text.standard_output.find("unpack dir:      " + narrow(c.folder) + "\n"), std::string::npos)
            << text.standard_output;
    }
}

TEST(WindowsPacker, VersionHelpAndRefusals)
{
    RunResult version = pack(L"--version");
    EXPECT_EQ(version.exit_code, 0u);
    EXPECT_EQ(version.standard_output.rfind("zobrel-pack ", 0), 0u) << version.standard_output;
    EXPECT_EQ(pack(L"build --help").exit_code, 0u);

    const std::wstring scratch = make_scratch_dir(L"wpack-refuse");
    const RemovedAtScopeEnd scratch_removed(scratch);
    const std::wstring app = quote_argument(windows_path(ZOBREL_NAMES_APP_DIR));
    struct Case {
        std::wstring arguments;
        const char *message;
        DWORD status;
    } cases[] = {
        {L"build " + app + L" --main greeter.dll -o " + quote_argument(scratch + L"\\a.exe"), "is a DLL", 1},
        {L"build " + app + L" --main vexor.exe -o " + quote_argument(scratch + L"\\missing\\a.exe"),
         "does not exist", 1},
        {L"build " + app + L" --main vexor.exe -o " + quote_argument(scratch + L"\\a.exe") +
             L" --target-spec x{NOPE}",
         "unknown key", 2},
        {L"build " + app + L" --main vexor.exe -o " + quote_argument(scratch + L"\\a.exe") + L" --levle 3",
         "unknown option '--levle'; did you mean '--level'?", 2},
        {L"frobnicate", "unknown command", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.arguments));
        RunResult r = pack(c.arguments);
        EXPECT_EQ(r.exit_code, c.status);
        EXPECT_NE(r.standard_error.find(c.message), std::string::npos) << r.standard_error;
    }
    EXPECT_FALSE(file_exists(scratch + L"\\missing"));
    EXPECT_FALSE(file_exists(scratch + L"\\a.exe"));
}

}  // namespace
