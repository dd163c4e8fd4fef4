// The command a build gives its main program, through real packed launchers:
// fixed arguments expanded and quoted so that the child's own splitting (the
// platform's and the C runtime's) gives them back, before the user's
// arguments as typed; variables set and removed; the unpack directory
// published; a line or a variable that no longer fits once expanded; a .cmd
// script run through the command interpreter; and zobrel-pack.exe info on
// each. The real interpreter-based tool is command_real_tool_test.cpp's.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build_constants.h"
#include "build_constants_writer.h"
#include "child_report.h"
#include "packed_file.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

std::wstring windows_path(const char *unix_style)
{
    std::wstring path = widen(unix_style);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string without_cr(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// A run of a packed launcher, or of a program started directly, with its
// own temporary folder (so its unpack directory is fresh and known).
struct Started {
    RunResult result;
    Report report;
    std::wstring temp;
};

Started run(const std::wstring &program, const std::wstring &rest, RunOptions options = RunOptions())
{
    Started r;
    r.temp = make_scratch_dir(L"command-temp");
    options.application = program;
    options.command_line = quote_argument(program) + rest;
    options.set_env.push_back({L"TMP", r.temp});
    options.set_env.push_back({L"TEMP", r.temp});
    r.result = run_process(options);
    r.report = parse_report(r.result.standard_output);
    return r;
}

// zobrel-pack.exe info --json on a packed executable, lines without CR, for
// the user whose temporary folder is temp.
std::string info_json(const std::wstring &exe, const std::wstring &temp)
{
    RunOptions options;
    options.command_line =
        quote_argument(windows_path(ZOBREL_WINDOWS_PACK)) + L" info --json " + quote_argument(exe);
    options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
    RunResult r = run_process(options);
    EXPECT_EQ(r.exit_code, 0u) << r.standard_error;
    return without_cr(r.standard_output);
}

// A text as a JSON string literal, as info writes it.
std::string json(const std::wstring &text)
{
    std::string out = "\"";
    for (char c : narrow(text)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool contains(const std::string &hay, const std::string &needle)
{
    return hay.find(needle) != std::string::npos;
}

// command_onefile's fixed arguments (tests/command.cmake), expanded for the
// unpack directory: as the child must get them back.
std::vector<std::wstring> fixed_arguments(const std::wstring &unpack)
{
    return {L"plain",
            L"",
            L"two words",
            L"tab\there",
            L"say \"hi\"",
            L"C:\\Program Files\\x\\",
            L"a\\\\\"b",
            L"semi;colon",
            unpack + L"\\lib",
            L"--product=command",
            L"caf\u00e9",
            L"\\",
            L"$"};
}

TEST(FixedArguments, ComeBackWholeBeforeTheUsersOwnAsTyped)
{
    const std::wstring exe = test_program(L"command_onefile.exe");
    const std::wstring direct_program = test_program(L"report-app\\report_child.exe");
    struct Case {
        const char *what;
        std::wstring rest;
    } cases[] = {
        {"none of the user's", L""},
        {"the user's own, with quotes, an empty one and backslashes",
         L" one \"two three\" \"\" x\\\\\"y\" \\\\"},
        {"the user's own, spaced and tabbed", L"  \ta  b\t"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Started packed = run(exe, c.rest);
        Started direct = run(direct_program, c.rest);
        ASSERT_TRUE(packed.report.present) << packed.result.standard_error;
        ASSERT_TRUE(direct.report.present) << direct.result.standard_error;
        const std::wstring unpack = packed.temp + L"\\zobrel-command";

        // The platform's splitting and the C runtime's: the launcher's path,
        // the fixed arguments exactly, then the user's as started directly.
        std::vector<std::wstring> expected = {exe};
        for (const std::wstring &a : fixed_arguments(unpack)) expected.push_back(a);
        std::vector<std::wstring> expected_crt = expected;
        expected.insert(expected.end(), direct.report.args.begin() + 1, direct.report.args.end());
        expected_crt.insert(expected_crt.end(), direct.report.crt.begin() + 1, direct.report.crt.end());
        EXPECT_EQ(packed.report.args, expected);
        ASSERT_FALSE(packed.report.crt.empty());
        expected_crt[0] = packed.report.crt[0];  // the runtime's own idea of the program name
        EXPECT_EQ(packed.report.crt, expected_crt);
        // The user's part of the line is passed on unit for unit.
        const std::wstring &raw = packed.report.raw;
        ASSERT_GE(raw.size(), c.rest.size());
        EXPECT_EQ(raw.substr(raw.size() - c.rest.size()), c.rest);
        EXPECT_EQ(packed.result.exit_code, 0u);
        remove_tree(packed.temp);
        remove_tree(direct.temp);
    }

    // After a quoted program name the user's text may follow without a
    // space: it still comes after the fixed arguments as an argument of its own.
    RunOptions glued;
    Started r;
    r.temp = make_scratch_dir(L"command-temp");
    glued.application = exe;
    glued.command_line = L"\"command\"x \"y z\"";
    glued.set_env = {{L"TMP", r.temp}, {L"TEMP", r.temp}};
    r.report = parse_report(run_process(glued).standard_output);
    std::vector<std::wstring> expected = {exe};
    for (const std::wstring &a : fixed_arguments(r.temp + L"\\zobrel-command")) expected.push_back(a);
    expected.push_back(L"x");
    expected.push_back(L"y z");
    EXPECT_EQ(r.report.args, expected);
    remove_tree(r.temp);
}

TEST(Environment, VariablesAreSetAndRemovedAndTheUnpackDirectoryIsPublished)
{
    RunOptions options;
    options.set_env = {{L"REPORT_GREETING", L"the user's"},
                       {L"REPORT_GONE", L"the user's"},
                       {L"ZOBREL_ONEFILE_UNPACK_DIRECTORY", L"C:\\stale"},
                       {L"REPORT_ALSO", L"REPORT_GREETING,REPORT_DATA,REPORT_GONE,REPORT_SEMI,REPORT_PATH"}};
    Started packed = run(test_program(L"command_onefile.exe"), L" x", options);
    ASSERT_TRUE(packed.report.present) << packed.result.standard_error;
    // The specification ends in a backslash; the published folder does not.
    const std::wstring unpack = packed.temp + L"\\zobrel-command";
    const std::map<std::string, std::optional<std::wstring>> expected = {
        {"REPORT_GREETING", L"hello command"},
        {"REPORT_DATA", unpack + L"\\data"},
        {"REPORT_GONE", std::nullopt},
        {"REPORT_SEMI", L"a;b"},
        // The user's own value, as the launcher was started with it, not the build's.
        {"REPORT_PATH", unpack + L"\\bin;the user's"},
        {"ZOBREL_ONEFILE_UNPACK_DIRECTORY", unpack},
    };
    for (const auto &[name, value] : expected) EXPECT_EQ(packed.report.env.at(name), value) << name;
    EXPECT_TRUE(file_exists(unpack + L"\\report_child.exe"));
    // What info says about the folder is where it unpacked.
    const std::string shown = info_json(test_program(L"command_onefile.exe"), packed.temp);
    EXPECT_TRUE(contains(shown, "\"unpack_dir\": " + json(unpack) + ",\n")) << shown;
    EXPECT_TRUE(contains(shown,
                         "\"environment\": [\"REPORT_GREETING=hello {PRODUCT}\", "
                         "\"REPORT_DATA={UNPACK_DIR}\\\\data\", \"REPORT_GONE=\", \"REPORT_SEMI=a;b\", "
                         "\"REPORT_PATH={UNPACK_DIR}\\\\bin;{ENV:REPORT_GREETING}\"],\n"))
        << shown;
    remove_tree(packed.temp);

    // A build without variables leaves the user's as they are, and publishes its folder too.
    Started plain = run(test_program(L"report_onefile.exe"), L" x", options);
    ASSERT_TRUE(plain.report.present) << plain.result.standard_error;
    EXPECT_EQ(plain.report.env.at("REPORT_GREETING"), L"the user's");
    EXPECT_EQ(plain.report.env.at("REPORT_GONE"), L"the user's");
    EXPECT_EQ(plain.report.env.at("ZOBREL_ONEFILE_UNPACK_DIRECTORY"), plain.temp + L"\\zobrel-report");
    remove_tree(plain.temp);
}

// A build with fixed arguments whose line passes 32,767 units once they are
// expanded (with the launcher's path and the user's text) is reported as the
// platform reports a line too long, before anything is unpacked, and nothing
// runs; a line of 32,766 units reaches the child whole. (At 32,767 the
// platform's own limit, which counts the terminator, is reached: there the
// child line test shows it. Wine itself starts programs with longer lines;
// the launcher's own check is what holds here.) A variable that no longer
// fits is reported the same way.
TEST(CommandLineLimit, ALineOrVariableThatNoLongerFitsIsReportedAndNothingRuns)
{
    const std::string too_long =
        "Error, couldn't launch child ([Error 206] " + system_error_text(206) + ")\r\n";
    const std::wstring exe = test_program(L"long_argument_onefile.exe");
    for (size_t total : {size_t{32766}, size_t{32768}}) {
        SCOPED_TRACE(total);
        // The line: the launcher's path, a space, 30,000 x and the unpack
        // directory, then the user's text, a space and a's.
        const std::wstring temp = make_scratch_dir(L"command-temp");
        const std::wstring unpack = temp + L"\\zobrel-long-argument";
        const size_t fixed = quote_argument(exe).size() + 1 + 30000 + unpack.size();
        const std::wstring rest = L" " + std::wstring(total - fixed - 1, L'a');
        RunOptions options;
        options.application = exe;
        options.command_line = quote_argument(exe) + rest;
        options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
        RunResult r = run_process(options);
        Report report = parse_report(r.standard_output);
        if (total == 32766) {
            ASSERT_TRUE(report.present) << r.standard_error;
            EXPECT_EQ(report.raw.size(), total);
            EXPECT_EQ(report.args.size(), 3u);
            EXPECT_EQ(r.exit_code, 0u);
        } else {
            EXPECT_EQ(r.exit_code, 2u);
            EXPECT_EQ(r.standard_error, too_long);
            EXPECT_EQ(r.standard_output, "") << "nothing ran";
            EXPECT_FALSE(file_exists(unpack)) << "nothing was unpacked";
        }
        remove_tree(temp);
    }

    Started value = run(test_program(L"long_value_onefile.exe"), L" x");
    EXPECT_EQ(value.result.exit_code, 2u);
    EXPECT_EQ(value.result.standard_error, too_long);
    EXPECT_EQ(value.result.standard_output, "");
    EXPECT_FALSE(file_exists(value.temp + L"\\zobrel-long-value"));
    remove_tree(value.temp);
}

// A variable holds 32,766 units: a value of that length once expanded
// reaches the child whole; one unit more is reported as a line too long,
// before anything is unpacked, and nothing runs; the same when the length
// comes from a variable of the user's environment ({ENV:NAME}, a user's
// long PATH). (Wine would keep the first 32,766 units of the longer one and
// report it set: the launcher's own count is what holds here. The build is
// long_value_onefile with its value made to measure for this run's unpack
// directory.)
TEST(CommandLineLimit, AVariableOf32766UnitsArrivesWholeAndOneOf32767IsReported)
{
    for (bool from_user : {false, true}) {
        for (size_t length : {size_t{32766}, size_t{32767}}) {
            SCOPED_TRACE(std::to_string(length) + (from_user ? " from the user's variable" : ""));
            const std::wstring temp = make_scratch_dir(L"command-temp");
            const std::wstring unpack = temp + L"\\zobrel-long-value";
            const std::wstring filler(length - unpack.size(), L'v');
            const std::u16string value = from_user ? u"{UNPACK_DIR}{env:Report_User}"
                                                   : std::u16string(filler.size(), u'v') + u"{UNPACK_DIR}";
            std::string image = read_file(test_program(L"long_value_onefile.exe"));
            std::vector<ConstantValue> values = constants_of(image);
            for (ConstantValue &v : values) {
                if (v.key == CONSTANT_ENVIRONMENT)
                    v.bytes = environment_list_value({{u"REPORT_LONG", value}});
            }
            replace_constants(image, values);
            const std::wstring exe = temp + L"\\long.exe";
            write_file(exe, image);
            RunOptions options;
            options.command_line = quote_argument(exe);
            options.set_env = {{L"TMP", temp}, {L"TEMP", temp}, {L"REPORT_ALSO", L"REPORT_LONG"}};
            if (from_user) options.set_env.push_back({L"REPORT_USER", filler});
            RunResult r = run_process(options);
            Report report = parse_report(r.standard_output);
            if (length == 32766) {
                ASSERT_TRUE(report.present) << r.standard_error;
                ASSERT_TRUE(report.env.count("REPORT_LONG") && report.env.at("REPORT_LONG"));
                EXPECT_EQ(*report.env.at("REPORT_LONG"), from_user ? unpack + filler : filler + unpack);
            } else {
                EXPECT_EQ(r.exit_code, 2u);
                EXPECT_EQ(r.standard_error,
                          "Error, couldn't launch child ([Error 206] " + system_error_text(206) + ")\r\n");
                EXPECT_EQ(r.standard_output, "") << "nothing ran";
                EXPECT_FALSE(file_exists(unpack)) << "nothing was unpacked";
            }
            remove_tree(temp);
        }
    }
}

// A .cmd app: the command interpreter packed with the script, run as
// "cmd /d /c call <unpack directory>\app.cmd" and the user's arguments,
// against the same interpreter and script started directly with the same
// arguments in another folder: the same output, the same file written in
// the current folder, the same exit code. The unpack directory holds a
// space, which without "call" would make cmd strip the line's first and
// last quotes. (The script ends in "exit N": Wine's cmd returns 1 after a
// "call" of a script that ends in "exit /b N".)
TEST(ScriptApp, RunsThroughTheCommandInterpreterAsItDoesDirectly)
{
    const std::wstring exe = test_program(L"script_onefile.exe");
    const std::wstring app = windows_path(ZOBREL_SCRIPT_APP_DIR);
    struct Case {
        std::wstring rest;
        const char *first_line;
        DWORD status;
    } cases[] = {
        {L" \"a b\" c", "args=[\"a b\" c]\n", 0},
        {L" fail \"x \"\"y\"\"\"", "args=[fail \"x \"\"y\"\"\"]\n", 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.rest));
        const std::wstring packed_cwd = make_scratch_dir(L"command-cwd");
        const std::wstring direct_cwd = make_scratch_dir(L"command-cwd");
        RunOptions packed_options;
        packed_options.current_directory = packed_cwd;
        Started packed = run(exe, c.rest, packed_options);
        const std::wstring unpack = packed.temp + L"\\zobrel script app";

        RunOptions direct_options;
        direct_options.current_directory = direct_cwd;
        direct_options.set_env = {{L"APP_GREETING", L"hello from greeter"},
                                  {L"ZOBREL_ONEFILE_UNPACK_DIRECTORY", unpack}};
        Started direct = run(app + L"\\cmd.exe",
                             L" /d /c call " + quote_argument(app + L"\\app.cmd") + c.rest, direct_options);

        const std::string out = without_cr(packed.result.standard_output);
        EXPECT_EQ(out.substr(0, out.find('\n') + 1), c.first_line) << out;
        EXPECT_TRUE(contains(out, "greeting=[hello from greeter]\n")) << out;
        EXPECT_TRUE(contains(out, "unpacked=[" + narrow(unpack) + "]\n")) << out;
        EXPECT_TRUE(contains(out, "data beside the script\n")) << out;
        EXPECT_EQ(packed.result.standard_output, direct.result.standard_output);
        EXPECT_EQ(packed.result.standard_error, direct.result.standard_error);
        EXPECT_EQ(packed.result.exit_code, c.status);
        EXPECT_EQ(direct.result.exit_code, c.status);
        EXPECT_EQ(read_file(packed_cwd + L"\\written.txt"), read_file(direct_cwd + L"\\written.txt"));
        EXPECT_TRUE(file_exists(packed_cwd + L"\\written.txt"));

        const std::string shown = info_json(exe, packed.temp);
        EXPECT_TRUE(
            contains(shown, "\"arguments\": [\"/d\", \"/c\", \"call\", \"{UNPACK_DIR}\\\\app.cmd\"],\n"))
            << shown;
        EXPECT_TRUE(contains(shown, "\"environment\": [\"APP_GREETING=hello from {PRODUCT}\"],\n")) << shown;
        EXPECT_TRUE(contains(shown, "\"unpack_dir\": " + json(unpack) + ",\n")) << shown;
        for (const std::wstring &dir : {packed_cwd, direct_cwd, packed.temp, direct.temp}) remove_tree(dir);
    }
}

}  // namespace
