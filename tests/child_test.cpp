// The child stage: the command line the child receives, what it inherits
// (environment, standard handles, directory), how its exit code comes back,
// what the console event handler does with and without a child, and how the
// child's handle is shared with it. Console events typed into a real
// terminal are in console_events_test.sh.
//
// Most tests run a launcher that starts report_child.exe, which writes down
// what it received, and compare with report_child started directly. Two
// launchers are used: launch_probe.exe (the launch stage alone, linked from
// the launcher core) and report_onefile.exe (report_child packed into a real
// launcher). Wine's own cmd.exe, packed as cmd_onefile.exe, is the real
// program run side by side.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "child/child_handle.h"
#include "child/cmdline.h"
#include "child/console_events.h"
#include "child/launch.h"
#include "child_report.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD FAIL_FAST_STATUS = 0xC0000409;

// ---------------------------------------------------------------------------
// Running a launcher.

struct LauncherKind {
    const wchar_t *program;  // file name next to the tests
    const wchar_t *name;     // for traces
};

const LauncherKind PROBE = {L"launch_probe.exe", L"probe"};
const LauncherKind ONEFILE = {L"report_onefile.exe", L"onefile"};
const LauncherKind LAUNCHERS[] = {PROBE, ONEFILE};

// The first argument the child gets: the launcher's full path, quoted only
// when it holds a space.
std::wstring first_argument(const std::wstring &path)
{
    return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

struct Launch {
    RunResult result;
    Report report;
    std::wstring temp;  // the temporary folder it ran with (removed since)
};

// Runs the launcher at `path` as `argv0` followed by `tail` (raw command-line
// text). The packed launcher unpacks into a fresh temporary folder.
Launch run_launcher(const std::wstring &path, const std::wstring &argv0, const std::wstring &tail,
                    RunOptions options = RunOptions())
{
    options.application = path;
    options.command_line = argv0 + tail;
    std::wstring temp = make_scratch_dir(L"child-temp");
    const RemovedAtScopeEnd temp_removed(temp);
    options.set_env.push_back({L"TMP", temp});
    options.set_env.push_back({L"TEMP", temp});
    options.unset_env.push_back(L"REPORT_OUT");
    Launch launch;
    launch.result = run_process(options);
    launch.report = parse_report(launch.result.standard_output);
    launch.temp = temp;
    return launch;
}

Launch run_launcher(const LauncherKind &kind, const std::wstring &tail, RunOptions options = RunOptions())
{
    std::wstring path = test_program(kind.program);
    return run_launcher(path, quote_argument(path), tail, options);
}

// ---------------------------------------------------------------------------
// The whole command line, as the child receives it, against the same program
// started directly with the same line.

// The launcher's full path as the child's program name: quoted when it holds
// a space, or when the rest of the line follows it without a space or tab.
std::wstring program_name_for(const std::wstring &path, const std::wstring &rest)
{
    bool glued = !rest.empty() && rest[0] != L' ' && rest[0] != L'\t';
    return glued || path.find(L' ') != std::wstring::npos ? L"\"" + path + L"\"" : path;
}

std::vector<std::wstring> after_first(const std::vector<std::wstring> &arguments)
{
    return arguments.empty() ? arguments : std::vector<std::wstring>(arguments.begin() + 1, arguments.end());
}

struct PassCase {
    const char *what;
    const wchar_t *program;  // the program name as typed (the file is given apart)
    const wchar_t *rest;     // everything after it
};

const PassCase PASS_CASES[] = {
    {"no arguments", L"report", L""},
    {"empty arguments in the middle and at the end", L"app.exe", L" -e \"x\" \"a b\" \"\" c \"\""},
    {"only an empty argument", L"app", L" \"\""},
    {"doubled quotes, as a batch file writes them", L"app", L" \"a\"\"b\" \"\"\"\" \"\" end"},
    {"escaped quotes inside and outside quotes", L"app", L" a\"b c\"d \\\"q\\\" \"x\\\"y\""},
    {"backslash runs before quotes and at the end", L"app",
     L" a\\\\\"b c\\\\\\\" \"d\\\\\\\\\" e\\\\ \"f g\\\\\""},
    {"tabs between and inside arguments", L"app", L"\ta\t\tb\t\"c\td\"\t"},
    {"leading, repeated and trailing whitespace", L"app", L"    a  \t  b   "},
    {"non-ASCII, a surrogate pair among them", L"app", L" \u00fc \u65e5\u672c \"\U0001F600 x\""},
    {"program name quoted, with a space", L"\"my app.exe\"", L" a \"b c\""},
    {"program name relative, without extension", L"..\\bin\\app", L" a"},
    {"rest glued to a quoted program name", L"\"app.exe\"", L"x \"y z\""},
    {"rest glued to a quoted program name, quote first", L"\"app\"", L"\"x y\"z w"},
    {"program name quoted and never closed", L"\"app x y", L""},
    {"no program name: the line starts with a space", L"", L" a b"},
};

TEST(ChildCommandLine, ChildGetsTheLineAsTypedWithTheLauncherPathInFront)
{
    std::wstring direct_program = test_program(L"report-app\\report_child.exe");
    std::wstring launcher = test_program(ONEFILE.program);
    for (const PassCase &c : PASS_CASES) {
        SCOPED_TRACE(c.what);
        std::wstring line = std::wstring(c.program) + c.rest;
        Launch direct = run_launcher(direct_program, c.program, c.rest);
        Launch packed = run_launcher(launcher, c.program, c.rest);
        ASSERT_TRUE(direct.report.present) << direct.result.standard_error;
        ASSERT_TRUE(packed.report.present) << packed.result.standard_error;
        ASSERT_EQ(direct.report.raw, line) << "the platform changed the line it was given";
        EXPECT_EQ(packed.report.raw, program_name_for(launcher, c.rest) + c.rest);
        // What the child makes of it: the same arguments after the first.
        EXPECT_EQ(after_first(packed.report.args), after_first(direct.report.args));
        ASSERT_FALSE(packed.report.args.empty());
        EXPECT_EQ(packed.report.args[0], launcher);
        EXPECT_EQ(packed.result.exit_code, 0u);
    }
}

// Wine's own command interpreter, packed as it is, prints what follows "echo"
// exactly as typed and exits with the code it was given: the packed copy must
// print the same bytes and end with the same 32-bit status as the same program
// started directly with the same line.
TEST(ChildCommandLine, RealCommandInterpreterBehavesTheSamePackedAndDirect)
{
    std::wstring direct_program = test_program(L"cmd-app\\cmd.exe");
    std::wstring packed_program = test_program(L"cmd_onefile.exe");
    struct Case {
        const wchar_t *rest;
        const char *printed;  // what cmd prints and its status, checked too, so
        DWORD status;         // that two runs failing alike cannot pass
    } cases[] = {
        {L" /c echo a\"b c\"d \\\"q\\\"", "a\"b c\"d \\\"q\\\"\r\n", 0},
        {L" /c echo \"\" x \"\"  \"a\"\"b\"", "\"\" x \"\"  \"a\"\"b\"\r\n", 0},
        {L" /c exit 3", "", 3},
        {L" /c exit -1073741819", "", 0xC0000005},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(narrow(c.rest));
        Launch direct = run_launcher(direct_program, L"cmd", c.rest);
        Launch packed = run_launcher(packed_program, L"cmd", c.rest);
        EXPECT_EQ(direct.result.standard_output, c.printed);
        EXPECT_EQ(direct.result.exit_code, c.status);
        EXPECT_EQ(packed.result.standard_output, direct.result.standard_output);
        EXPECT_EQ(packed.result.standard_error, direct.result.standard_error);
        EXPECT_EQ(packed.result.exit_code, direct.result.exit_code);
    }
}

// The launcher in a folder whose name has a space, started by a relative
// name without extension from another directory.
TEST(ChildCommandLine, LauncherPathWithASpaceAndARelativeName)
{
    std::wstring scratch = make_scratch_dir(L"child-space");
    const RemovedAtScopeEnd scratch_removed(scratch);
    std::wstring folder = scratch + L"\\with space";
    std::wstring elsewhere = scratch + L"\\elsewhere";
    std::filesystem::create_directories(folder + L"\\report-app");
    std::filesystem::create_directories(elsewhere);
    for (const LauncherKind &kind : LAUNCHERS) {
        std::filesystem::copy_file(test_program(kind.program), folder + L"\\" + kind.program);
    }
    std::filesystem::copy_file(test_program(L"report-app\\report_child.exe"),
                               folder + L"\\report-app\\report_child.exe");

    for (const LauncherKind &kind : LAUNCHERS) {
        std::wstring path = folder + L"\\" + kind.program;
        std::wstring stem = std::wstring(kind.program).substr(0, wcslen(kind.program) - 4);
        for (const std::wstring &argv0 : {stem, std::wstring(L"\"my ") + stem + L"\""}) {
            SCOPED_TRACE(narrow(kind.name + std::wstring(L" as ") + argv0));
            RunOptions options;
            options.current_directory = elsewhere;
            Launch l = run_launcher(path, argv0, L" \"x y\\\\\" z", options);
            ASSERT_TRUE(l.report.present) << l.result.standard_error;
            EXPECT_EQ(l.report.raw, L"\"" + path + L"\" \"x y\\\\\" z");
            EXPECT_EQ(l.report.args, (std::vector<std::wstring>{path, L"x y\\", L"z"}));
            // The name as typed travels separately, quotes taken off by the runtime.
            std::wstring typed = argv0[0] == L'"' ? argv0.substr(1, argv0.size() - 2) : argv0;
            EXPECT_EQ(l.report.env["ZOBREL_ORIGINAL_ARGV0"], typed);
            EXPECT_EQ(l.report.env["ZOBREL_ONEFILE_DIRECTORY"], folder);
            EXPECT_EQ(l.report.cwd, elsewhere);
        }
    }
}

// The child's line may hold 32,767 units, not one more. The launcher is
// started as "p" with its path given apart, so its own line stays shorter
// than the child's, which carries its full path. The platform's process
// creation counts its terminator in the same 32,767: a line of 32,766 units
// reaches the child whole; one of 32,767 is either refused there (a launch
// error) or cut by one unit, but never ends the launcher abnormally.
TEST(ChildCommandLine, ChildLineOf32767UnitsIsTheLimit)
{
    for (const LauncherKind &kind : LAUNCHERS) {
        std::wstring path = test_program(kind.program);
        std::wstring first = first_argument(path);
        // Two shapes: the last unit a plain character, or a closing quote
        // after backslashes.
        struct Shape {
            const char *what;
            std::wstring end;  // the last argument, as typed
        } shapes[] = {{"plain", L"z"}, {"quoted", L"\"x y\\\\\""}};
        for (const Shape &shape : shapes) {
            for (size_t total : {COMMAND_LINE_LIMIT - 1, COMMAND_LINE_LIMIT, COMMAND_LINE_LIMIT + 1}) {
                SCOPED_TRACE(narrow(kind.name) + " " + shape.what + " " + std::to_string(total));
                size_t filler = total - first.size() - 2 - shape.end.size();
                std::wstring middle = L" " + std::wstring(filler, L'a') + L" ";
                std::wstring expected = first + middle + shape.end;
                ASSERT_EQ(expected.size(), total);

                Launch l = run_launcher(path, L"p", middle + shape.end);
                if (total > COMMAND_LINE_LIMIT) {
                    EXPECT_EQ(l.result.exit_code, FAIL_FAST_STATUS);
                    EXPECT_EQ(l.result.standard_output, "");
                    EXPECT_EQ(l.result.standard_error, "");
                } else if (total == COMMAND_LINE_LIMIT && l.result.exit_code == 2) {
                    EXPECT_EQ(l.result.standard_error.rfind("Error, couldn't launch child ([Error ", 0), 0u)
                        << l.result.standard_error;
                } else {
                    EXPECT_EQ(l.result.exit_code, 0u) << l.result.standard_error;
                    ASSERT_TRUE(l.report.present);
                    bool whole = l.report.raw == expected;
                    bool cut_by_platform = total == COMMAND_LINE_LIMIT &&
                                           l.report.raw == expected.substr(0, COMMAND_LINE_LIMIT - 1);
                    EXPECT_TRUE(whole || cut_by_platform) << "child got " << l.report.raw.size() << " units";
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Exit status, environment, handles, directory.

TEST(ChildExit, ExitCodeComesBackInAll32Bits)
{
    for (const LauncherKind &kind : LAUNCHERS) {
        for (DWORD code : {0x0u, 0x3u, 0xFFu, 0x100u, 0x80000000u, 0xC0000005u}) {
            SCOPED_TRACE(narrow(kind.name) + " " + std::to_string(code));
            RunOptions options;
            wchar_t hex[16];
            swprintf(hex, 16, L"0x%lx", static_cast<unsigned long>(code));
            options.set_env.push_back({L"REPORT_EXIT", hex});
            Launch l = run_launcher(kind, L" a", options);
            EXPECT_TRUE(l.report.present);
            EXPECT_EQ(l.result.exit_code, code);
        }
    }
}

TEST(ChildEnvironment, ChildSeesTheLaunchVariablesHandlesAndDirectory)
{
    for (const LauncherKind &kind : LAUNCHERS) {
        SCOPED_TRACE(narrow(kind.name));
        std::wstring cwd = make_scratch_dir(L"child-cwd");
        const RemovedAtScopeEnd cwd_removed(cwd);
        RunOptions options;
        options.current_directory = cwd;
        options.standard_input = std::string("line one\r\nline two\n\0end", 23);
        // Pins left by a parent launcher, and a parent id that is not ours.
        options.set_env = {{L"ZOBREL_ONEFILE_START", L"111"},
                           {L"ZOBREL_ONEFILE_TIME_US", L"222"},
                           {L"ZOBREL_ONEFILE_RANDOM", L"abcdefghijk"},
                           {L"ZOBREL_ONEFILE_PARENT", L"1"},
                           {L"ZOBREL_ONEFILE_DIRECTORY", L"C:\\stale"},
                           {L"REPORT_STDIN", L"1"},
                           {L"ZOBREL_ONEFILE_UNPACK_DIRECTORY", L"C:\\stale"}};
        std::wstring path = test_program(kind.program);
        std::wstring stem = std::wstring(kind.program).substr(0, wcslen(kind.program) - 4);
        Launch l = run_launcher(path, stem, L" x", options);
        ASSERT_TRUE(l.report.present) << l.result.standard_error;
        EXPECT_EQ(l.result.exit_code, 0u);

        const Report &r = l.report;
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_PARENT"), std::to_wstring(l.result.process_id));
        EXPECT_EQ(r.ppid, l.result.process_id) << "the child's parent is the launcher";
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_DIRECTORY"), test_bin_dir());
        EXPECT_EQ(r.env.at("ZOBREL_ORIGINAL_ARGV0"), stem);
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_START"), std::nullopt);
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_TIME_US"), std::nullopt);
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_RANDOM"), std::nullopt);
        // The packed one's unpack directory; the probe has none, and says so.
        EXPECT_EQ(r.env.at("ZOBREL_ONEFILE_UNPACK_DIRECTORY"),
                  kind.program == ONEFILE.program ? l.temp + L"\\zobrel-report" : std::wstring());
        EXPECT_EQ(r.cwd, cwd);
        // The launcher's redirected standard handles reach the child.
        EXPECT_EQ(r.stdin_bytes, options.standard_input);
        EXPECT_EQ(l.result.standard_error, "report child: stderr line\r\n");
    }
}

TEST(ChildLaunch, AMainBinaryThatCannotStartIsReported)
{
    std::wstring dir = make_scratch_dir(L"child-bad");
    const RemovedAtScopeEnd dir_removed(dir);
    std::wstring text_file = dir + L"\\not-a-program.exe";
    write_file(text_file, "this is text, not a program\r\n");
    for (const std::wstring &program : {text_file, dir + L"\\missing.exe"}) {
        SCOPED_TRACE(narrow(program));
        // What the system says when asked to start it.
        std::wstring cmd = L"x";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_FALSE(CreateProcessW(program.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
        DWORD code = GetLastError();
        ASSERT_NE(code, 0u);

        RunOptions options;
        options.set_env.push_back({L"PROBE_CHILD", program});
        Launch l = run_launcher(PROBE, L" a b", options);
        EXPECT_EQ(l.result.standard_error, "Error, couldn't launch child ([Error " + std::to_string(code) +
                                               "] " + system_error_text(code) + ")\r\n");
        EXPECT_EQ(l.result.standard_output, "");
        EXPECT_EQ(l.result.exit_code, 2u);
    }
}

// ---------------------------------------------------------------------------
// The console event handler and the child handle, in process.

// A report child that runs for a while; its output goes to a file.
PROCESS_INFORMATION start_sleeping_child(DWORD sleep_ms, DWORD exit_code, const std::wstring &out)
{
    SetEnvironmentVariableW(L"REPORT_SLEEP_MS", std::to_wstring(sleep_ms).c_str());
    SetEnvironmentVariableW(L"REPORT_EXIT", std::to_wstring(exit_code).c_str());
    SetEnvironmentVariableW(L"REPORT_OUT", out.c_str());
    std::wstring program = test_program(L"report-app\\report_child.exe");
    std::wstring cmd = quote_argument(program);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(program.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    SetEnvironmentVariableW(L"REPORT_SLEEP_MS", NULL);
    SetEnvironmentVariableW(L"REPORT_EXIT", NULL);
    SetEnvironmentVariableW(L"REPORT_OUT", NULL);
    EXPECT_TRUE(ok);
    CloseHandle(pi.hThread);
    return pi;
}

bool handle_is_open(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

// With a child started, Ctrl+C and Ctrl+Break are the child's: the handler
// reports them handled at once (so the platform's default handling does not
// end the launcher) and leaves the child alone, also after it has ended.
// Other event values are not the launcher's business at all.
TEST(ConsoleEventHandler, WithAChildCtrlCIsLeftToItAndOtherEventsAreNotHandled)
{
    std::wstring dir = make_scratch_dir(L"child-events");
    const RemovedAtScopeEnd dir_removed(dir);
    ChildState child = {};
    watch_child_for_console_events(&child);
    ASSERT_TRUE(begin_child_launch(&child));
    PROCESS_INFORMATION pi = start_sleeping_child(60000, 9, dir + L"\\out");
    publish_child_handle(&child, pi.hProcess);
    ASSERT_TRUE(let_child_run(&child));
    const DWORD interrupts[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT};
    const DWORD others[] = {3u, 4u, 7u, 0xFFFFu};
    for (DWORD event : interrupts) EXPECT_TRUE(console_event_handler(event)) << event;
    for (DWORD event : others) EXPECT_FALSE(console_event_handler(event)) << event;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the child was ended";
    EXPECT_TRUE(handle_is_open(pi.hProcess));
    EXPECT_EQ(child.process, pi.hProcess);

    // The main thread's end of the child: it reads the code, records it, lets go.
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, INFINITE);
    record_child_exit_status(&child, 9);
    release_child_handle(&child);
    EXPECT_EQ(child.process, nullptr);
    for (DWORD event : interrupts) EXPECT_TRUE(console_event_handler(event)) << event;
    // A close after that ends the launcher with the status the main thread read.
    EXPECT_EQ(end_child_for_close(&child), 9u);
}

// Close, logoff and shutdown: the child gets five seconds to end by itself,
// then is terminated with the interruption status, never 0. The status comes
// back for the launcher to end with.
TEST(ConsoleEventHandler, OnCloseTheChildGetsFiveSecondsThenEndsWithTheInterruptStatus)
{
    std::wstring dir = make_scratch_dir(L"child-grace");
    const RemovedAtScopeEnd dir_removed(dir);
    struct Case {
        DWORD sleep_ms;
        DWORD expected;  // the child's own code if it ends in time
    } cases[] = {
        {1000, 0xC0DE0007},
        {60000, 0xC000013A},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sleep_ms);
        ChildState child = {};
        PROCESS_INFORMATION pi = start_sleeping_child(c.sleep_ms, 0xC0DE0007, dir + L"\\out");
        publish_child_handle(&child, pi.hProcess);
        ULONGLONG start = GetTickCount64();
        EXPECT_EQ(end_child_for_close(&child), c.expected);
        ULONGLONG elapsed = GetTickCount64() - start;
        // Returns once the child has ended, one way or the other.
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
        DWORD code = 0xDEAD;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        EXPECT_EQ(code, c.expected);
        if (c.expected == 0xC000013A) {
            // Not before the grace period: a lower bound only, which load cannot break.
            EXPECT_GE(elapsed, 4900u);
        }
        // The main thread's use is still held: the handle stays open until it lets go.
        EXPECT_TRUE(handle_is_open(pi.hProcess));
        release_child_handle(&child);
        EXPECT_FALSE(handle_is_open(pi.hProcess));
    }
}

// A close event, delivered to the launch probe on a thread of its own once
// the child runs: the launcher ends with the child's status, also when the
// platform would end it right after the handler (the probe does as Windows
// does). A child that ends within the grace period gives its own code; one
// that does not is terminated with 0xC000013A, never 0. (Wine sends no close
// event when its terminal goes away, so the event is delivered here.)
TEST(ConsoleEventHandler, CloseEndsTheLauncherWithTheChildStatusNeverZero)
{
    std::wstring dir = make_scratch_dir(L"child-close");
    const RemovedAtScopeEnd dir_removed(dir);
    struct Case {
        const wchar_t *sleep_ms;
        DWORD expected;
    } cases[] = {
        {L"1500", 0xC0DE0007},
        {L"60000", 0xC000013A},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.sleep_ms));
        std::wstring report = dir + L"\\report-" + c.sleep_ms;
        RunOptions options;
        options.set_env = {{L"REPORT_SLEEP_MS", c.sleep_ms},
                           {L"REPORT_EXIT", L"0xC0DE0007"},
                           {L"REPORT_OUT", report},
                           {L"PROBE_CLOSE_WHEN", report}};
        Launch l = run_launcher(PROBE, L" a", options);
        EXPECT_FALSE(l.result.timed_out);
        EXPECT_EQ(l.result.exit_code, c.expected);
        // The child is gone, with the same status.
        Report r = parse_report(read_file(report));
        ASSERT_TRUE(r.present);
        HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, r.pid);
        if (child != NULL) {
            EXPECT_EQ(WaitForSingleObject(child, 0), WAIT_OBJECT_0) << "the child outlived the launcher";
            DWORD code = 0;
            EXPECT_TRUE(GetExitCodeProcess(child, &code));
            EXPECT_EQ(code, c.expected);
            CloseHandle(child);
        }
    }
}

TEST(ChildHandle, ClosedExactlyOnceByWhicheverUserLetsGoLast)
{
    // Each case: which users take a use after publication, then the order in
    // which the holders let go ('m' the main thread, 'h' a handler).
    const char *orders[] = {"m", "hm", "mh", "hhm", "hmh", "mhh"};
    ChildState child = {};
    for (const char *order : orders) {
        SCOPED_TRACE(order);
        HANDLE h = CreateEventW(NULL, TRUE, FALSE, NULL);
        ASSERT_NE(h, nullptr);
        publish_child_handle(&child, h);
        size_t holders = strlen(order);
        for (size_t i = 1; i < holders; i++) EXPECT_EQ(acquire_child_handle(&child), h);
        for (size_t i = 0; i < holders; i++) {
            EXPECT_TRUE(handle_is_open(h)) << "closed before release " << i;
            EXPECT_EQ(child.process, h);
            release_child_handle(&child);
        }
        EXPECT_FALSE(handle_is_open(h));
        EXPECT_EQ(child.process, nullptr);
        // Once closed, nobody gets it back.
        EXPECT_EQ(acquire_child_handle(&child), nullptr);
        EXPECT_EQ(child.process, nullptr);
    }
}

// Handler threads take and drop uses while the main thread lets go of its
// own. Plain system threads, so that nothing else makes handles meanwhile and
// a closed handle's value cannot come back as another object.
struct RaceState {
    ChildState *child;
    HANDLE expected;
    HANDLE start;
    LONG volatile bad;
};

DWORD WINAPI racing_handler(void *parameter)
{
    RaceState *state = static_cast<RaceState *>(parameter);
    WaitForSingleObject(state->start, INFINITE);
    for (int i = 0; i < 50; i++) {
        HANDLE held = acquire_child_handle(state->child);
        if (held == NULL) break;
        if (held != state->expected || !handle_is_open(held)) InterlockedIncrement(&state->bad);
        release_child_handle(state->child);
    }
    return 0;
}

TEST(ChildHandle, HandlersRacingTheMainThreadNeverSeeAClosedHandle)
{
    ChildState child = {};
    for (int round = 0; round < 200; round++) {
        RaceState state = {};
        state.child = &child;
        state.start = CreateEventW(NULL, TRUE, FALSE, NULL);
        state.expected = CreateEventW(NULL, TRUE, FALSE, NULL);
        ASSERT_NE(state.expected, nullptr);
        publish_child_handle(&child, state.expected);
        HANDLE threads[3];
        for (HANDLE &t : threads) t = CreateThread(NULL, 0, racing_handler, &state, 0, NULL);
        SetEvent(state.start);
        SwitchToThread();
        release_child_handle(&child);
        WaitForMultipleObjects(3, threads, TRUE, INFINITE);
        EXPECT_EQ(state.bad, 0) << "round " << round;
        EXPECT_FALSE(handle_is_open(state.expected)) << "round " << round;
        EXPECT_EQ(child.process, nullptr);
        for (HANDLE t : threads) CloseHandle(t);
        CloseHandle(state.start);
        if (HasFailure()) break;
    }
}

}  // namespace
