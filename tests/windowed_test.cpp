// The windowed launcher on a desktop (run by windowed_test.sh on a private
// X display): it is the one the packer picks for a windowed program, passes
// on the exit status, show state and standard handles, never brings a
// console of its own, shows a failure in a message box (found, read and
// closed here) and on standard error, never waits on a box no one could
// see, and leaves no child behind at the session's end or when killed.
//
// Programs, next to this test: windowed_onefile.exe (report_child built for
// the Windows subsystem, packed as it is), console_in_windowed_onefile.exe
// (the console report_child given the windowed launcher by --subsystem),
// mine_onefile.exe (Wine's winemine.exe).
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_paths.h"

namespace {

const wchar_t WINDOWED_PRODUCT[] = L"Windowed Report";
// The class of the launcher's hidden window that hears the session's end.
const wchar_t SESSION_WINDOW_CLASS[] = L"zobrel-onefile-session";
// The class of the window a --progress build shows while a first start unpacks.
const wchar_t PROGRESS_WINDOW_CLASS[] = L"zobrel-onefile-progress";
const wchar_t PROGRESS_PRODUCT[] = L"Windowed Progress";
const DWORD INTERRUPTED_STATUS = 0xC000013A;

uint16_t pe_subsystem(const std::wstring &exe)
{
    const std::string bytes = read_file(exe);
    if (bytes.size() < 0x40) return 0;
    uint32_t pe = 0;
    memcpy(&pe, bytes.data() + 0x3C, 4);
    // Signature (4), file header (20), then the optional header's Subsystem at 68.
    if (uint64_t{pe} + 24 + 70 > bytes.size()) return 0;
    uint16_t subsystem = 0;
    memcpy(&subsystem, bytes.data() + pe + 24 + 68, 2);
    return subsystem;
}

// The value of "key=" in a report_child report, or "(missing)".
std::string report_value(const std::string &report, const std::string &key)
{
    const std::string text = "\n" + report, start = "\n" + key + "=";
    const size_t at = text.find(start);
    if (at == std::string::npos) return "(missing)";
    const size_t from = at + start.size(), end = text.find('\n', from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// A launch with its own temporary folder, so it unpacks afresh.
struct Scratch {
    std::wstring dir = make_scratch_dir(L"windowed");
    ~Scratch() { remove_tree(dir); }
};

RunOptions launcher_options(const std::wstring &program, const Scratch &scratch)
{
    RunOptions options;
    options.application = test_program(program);
    options.command_line = quote_argument(options.application);
    options.set_env = {
        {L"TMP", scratch.dir}, {L"TEMP", scratch.dir}, {L"REPORT_OUT", scratch.dir + L"\\report"}};
    return options;
}

std::set<DWORD> console_host_ids()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"conhost.exe") == 0) ids.insert(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

// Runs to the end, noting every console host process that appears meanwhile
// (Wine starts conhost.exe for each console it creates).
RunResult run_watching_consoles(const RunOptions &options, int *new_console_hosts)
{
    const std::set<DWORD> before = console_host_ids();
    std::set<DWORD> seen;
    StartedProcess started = start_process(options);
    while (started.info.hProcess != NULL && WaitForSingleObject(started.info.hProcess, 20) == WAIT_TIMEOUT) {
        for (DWORD id : console_host_ids()) {
            if (before.count(id) == 0) seen.insert(id);
        }
    }
    *new_console_hosts = static_cast<int>(seen.size());
    return finish_process(started, options);
}

struct FoundWindow {
    DWORD process_id;
    const wchar_t *class_name;
    const wchar_t *title;  // null: any
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM parameter)
{
    FoundWindow *want = reinterpret_cast<FoundWindow *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t class_name[256] = L"", title[256] = L"";
    GetClassNameW(window, class_name, 256);
    GetWindowTextW(window, title, 256);
    if (owner == want->process_id && wcscmp(class_name, want->class_name) == 0 &&
        (want->title == nullptr || wcscmp(title, want->title) == 0)) {
        want->found = window;
        return FALSE;
    }
    return TRUE;
}

// The process's top-level window of that class (and title), waited for up
// to a minute; null if none came, or if the process ended first.
HWND wait_for_window(const StartedProcess &process, const wchar_t *class_name, const wchar_t *title)
{
    FoundWindow want = {process.info.dwProcessId, class_name, title, NULL};
    for (int i = 0; i < 600 && want.found == NULL; i++) {
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&want));
        if (want.found == NULL && WaitForSingleObject(process.info.hProcess, 100) != WAIT_TIMEOUT) break;
    }
    return want.found;
}

// Any visible top-level window of the process.
BOOL CALLBACK match_visible_window(HWND window, LPARAM parameter)
{
    FoundWindow *want = reinterpret_cast<FoundWindow *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == want->process_id && IsWindowVisible(window)) {
        want->found = window;
        return FALSE;
    }
    return TRUE;
}

// The id of a process the given one started, or 0.
DWORD child_process_id(DWORD parent)
{
    DWORD child = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && child == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent) child = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return child;
}

// Each Static control's text, in the order of the window's children.
BOOL CALLBACK collect_static_texts(HWND window, LPARAM parameter)
{
    wchar_t class_name[64] = L"";
    GetClassNameW(window, class_name, 64);
    if (_wcsicmp(class_name, L"Static") == 0) {
        wchar_t text[4096] = L"";
        GetWindowTextW(window, text, 4096);
        reinterpret_cast<std::vector<std::wstring> *>(parameter)->push_back(text);
    }
    return TRUE;
}

// A report file, waited for until it holds its last line (written once the child runs).
std::string wait_for_report(const std::wstring &path, HANDLE launcher)
{
    for (int i = 0; i < 600; i++) {
        std::string report = file_exists(path) ? read_file(path) : "";
        if (report.find("\nhandles=") != std::string::npos) return report;
        if (WaitForSingleObject(launcher, 100) != WAIT_TIMEOUT) break;
    }
    return "";
}

TEST(WindowedLauncher, WindowedProgramGetsItsStatusShowStateAndHandlesAndNoConsole)
{
    ASSERT_EQ(pe_subsystem(test_program(L"windowed_onefile.exe")), IMAGE_SUBSYSTEM_WINDOWS_GUI)
        << "a windowed main program gets the windowed launcher";
    ASSERT_EQ(pe_subsystem(test_program(L"console_in_windowed_onefile.exe")), IMAGE_SUBSYSTEM_WINDOWS_GUI)
        << "--subsystem windows";
    struct Case {
        const char *what;
        const wchar_t *program;
        bool no_handles;
        int show;
        const char *shown;
        const char *handles;  // the child's, as report_child names them; null: not judged
        const char *console;  // null: not judged
        int console_hosts;    // -1: not judged
        DWORD creation_flags;
    } cases[] = {
        // A redirection reaches the windowed child: `app.exe > out.txt` works.
        {"windowed, redirected, minimized", L"windowed_onefile.exe", false, SW_SHOWMINNOACTIVE, "7",
         "disk,disk,disk", "0", 0, 0},
        // Started as from the desktop: nothing to pass on, and no console appears.
        {"windowed, no handles, no show state", L"windowed_onefile.exe", true, -1, "none", "null,null,null",
         "0", 0, 0},
        // A console program under the windowed launcher: Windows gives it a
        // console of its own (and that console's handles, as the launcher
        // passes on no nulls); Wine gives it none, so that is not judged here.
        {"console child, no handles", L"console_in_windowed_onefile.exe", true, SW_SHOWNORMAL, "1", nullptr,
         nullptr, -1, 0},
        // The watch above sees a console when one is made: Wine starts a
        // console host process for it.
        {"control: a console program given a new console", L"report-app\\report_child.exe", true,
         SW_SHOWNORMAL, "1", nullptr, "1", 1, CREATE_NEW_CONSOLE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        RunOptions options = launcher_options(c.program, scratch);
        options.no_standard_handles = c.no_handles;
        options.show_window = c.show;
        options.creation_flags = c.creation_flags;
        options.set_env.push_back({L"REPORT_EXIT", L"0xC0DE0007"});
        int console_hosts = -1;
        RunResult r = run_watching_consoles(options, &console_hosts);
        EXPECT_EQ(r.exit_code, 0xC0DE0007u) << "all 32 bits of the child's status: " << r.standard_error;
        const std::string report = read_file(scratch.dir + L"\\report");
        EXPECT_EQ(report_value(report, "show"), c.shown) << report;
        if (c.handles != nullptr) {
            EXPECT_EQ(report_value(report, "handles"), c.handles) << report;
        }
        if (c.console != nullptr) {
            EXPECT_EQ(report_value(report, "console"), c.console) << report;
        }
        if (c.console_hosts >= 0) {
            EXPECT_EQ(console_hosts, c.console_hosts) << "console host processes that appeared";
        }
        if (!c.no_handles) {
            // The child's line, through the launcher's handle (text mode: CR LF).
            EXPECT_EQ(r.standard_error, "report child: stderr line\r\n");
        }
    }
}

TEST(WindowedLauncher, RealWindowedProgramRunsAndEndsWhenAskedToClose)
{
    ASSERT_EQ(pe_subsystem(test_program(L"mine_onefile.exe")), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    Scratch scratch;
    RunOptions options = launcher_options(L"mine_onefile.exe", scratch);
    options.no_standard_handles = true;
    StartedProcess launcher = start_process(options);
    ASSERT_NE(launcher.info.hProcess, nullptr) << launcher.start_error;
    HWND session = wait_for_window(launcher, SESSION_WINDOW_CLASS, L"mine");
    ASSERT_NE(session, nullptr) << "the launcher's hidden window, titled with the product";
    EXPECT_FALSE(IsWindowVisible(session));
    // The game's own window, once it shows: then a close asked of the
    // launcher (as taskkill without /f asks) reaches it.
    FoundWindow game = {0, nullptr, nullptr, NULL};
    for (int i = 0; i < 600 && game.found == NULL; i++) {
        game.process_id = child_process_id(launcher.info.dwProcessId);
        EnumWindows(match_visible_window, reinterpret_cast<LPARAM>(&game));
        if (game.found == NULL) Sleep(100);
    }
    EXPECT_NE(game.found, nullptr) << "winemine's window never appeared";
    PostMessageW(session, WM_CLOSE, 0, 0);
    RunResult r = finish_process(launcher, options);
    EXPECT_EQ(r.exit_code, 0u) << "winemine's own status after its window closed";
    EXPECT_FALSE(IsWindow(game.found)) << "winemine still runs";
}

TEST(WindowedLauncher, FailureIsShownInABoxTitledWithTheProductAndOnStandardError)
{
    for (const bool no_handles : {false, true}) {
        SCOPED_TRACE(no_handles ? "no standard handles" : "standard error redirected");
        Scratch scratch;
        // A file where the unpack folder must be made: the launcher cannot start.
        write_file(scratch.dir + L"\\zobrel-windowed", "in the way");
        RunOptions options = launcher_options(L"windowed_onefile.exe", scratch);
        options.no_standard_handles = no_handles;
        StartedProcess launcher = start_process(options);
        ASSERT_NE(launcher.info.hProcess, nullptr) << launcher.start_error;
        HWND box = wait_for_window(launcher, L"#32770", WINDOWED_PRODUCT);
        std::wstring text;
        if (box != NULL) {
            std::vector<std::wstring> texts;
            EnumChildWindows(box, collect_static_texts, reinterpret_cast<LPARAM>(&texts));
            for (const std::wstring &part : texts) text += part;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        RunResult r = finish_process(launcher, options);
        ASSERT_NE(box, nullptr) << "no message box appeared; standard error: " << r.standard_error;
        EXPECT_EQ(r.exit_code, 2u);
        EXPECT_EQ(text.rfind(L"Error, ", 0), 0u) << narrow(text);
        if (!no_handles) {
            // The same line, as the console launcher would write it (text mode: CR LF).
            EXPECT_EQ(r.standard_error, narrow(text) + "\r\n");
        }
        EXPECT_FALSE(file_exists(scratch.dir + L"\\report")) << "the child never ran";
    }
}

TEST(WindowedLauncher, NoBoxWhereNoOneCanSeeItOnlyStandardError)
{
    // A window station of its own is never the visible one, as a service's
    // is not. Wine too lets a message box there wait for ever; without a
    // display at all, Wine calls its one window station visible, and a box
    // fails at once instead of waiting (so the launcher does not hang either).
    HWINSTA own = GetProcessWindowStation();
    HWINSTA unseen = CreateWindowStationW(L"zobrel-unseen", 0, WINSTA_ALL_ACCESS, NULL);
    ASSERT_NE(unseen, nullptr) << GetLastError();
    ASSERT_TRUE(SetProcessWindowStation(unseen));
    HDESK desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    SetProcessWindowStation(own);
    ASSERT_NE(desktop, nullptr) << GetLastError();

    Scratch scratch;
    write_file(scratch.dir + L"\\zobrel-windowed", "in the way");
    RunOptions options = launcher_options(L"windowed_onefile.exe", scratch);
    options.desktop = L"zobrel-unseen\\Default";
    options.timeout_ms = 60000;  // killed (status 0xDEAD) if it waited on a box
    RunResult r = run_process(options);
    EXPECT_EQ(r.exit_code, 2u) << r.standard_error;
    EXPECT_EQ(r.standard_error.rfind("Error, ", 0), 0u) << r.standard_error;
    CloseDesktop(desktop);
    CloseWindowStation(unseen);
}

// Starts windowed_onefile with a child that runs for a minute, and waits
// until the child reports; gives the child's process, opened.
HANDLE start_long_child(const Scratch &scratch, RunOptions *options, StartedProcess *launcher)
{
    *options = launcher_options(L"windowed_onefile.exe", scratch);
    options->set_env.push_back({L"REPORT_SLEEP_MS", L"60000"});
    options->set_env.push_back({L"REPORT_EXIT", L"0"});
    *launcher = start_process(*options);
    if (launcher->info.hProcess == NULL) return NULL;
    const std::string report = wait_for_report(scratch.dir + L"\\report", launcher->info.hProcess);
    const DWORD child_id = static_cast<DWORD>(strtoul(report_value(report, "pid").c_str(), nullptr, 10));
    return child_id == 0 ? NULL
                         : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child_id);
}

TEST(WindowedSession, SessionEndEndsTheChildAfterItsGraceAndTheLauncherWithItsStatus)
{
    Scratch scratch;
    RunOptions options;
    StartedProcess launcher;
    HANDLE child = start_long_child(scratch, &options, &launcher);
    ASSERT_NE(child, nullptr) << "the child never reported";
    HWND session = wait_for_window(launcher, SESSION_WINDOW_CLASS, WINDOWED_PRODUCT);
    ASSERT_NE(session, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_NE(
        SendMessageTimeoutW(session, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer),
        0);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the launcher never holds the session up";
    EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "a question ends nothing";
    // The launcher ends inside this message: no answer comes back.
    SendMessageTimeoutW(session, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
    RunResult r = finish_process(launcher, options);
    EXPECT_EQ(r.exit_code, INTERRUPTED_STATUS) << "the status the child was ended with";
    EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the child outlived the launcher";
    CloseHandle(child);
}

TEST(WindowedSession, KilledLauncherTakesItsChildAlong)
{
    Scratch scratch;
    RunOptions options;
    StartedProcess launcher;
    HANDLE child = start_long_child(scratch, &options, &launcher);
    ASSERT_NE(child, nullptr) << "the child never reported";
    TerminateProcess(launcher.info.hProcess, 0xDEAD);
    RunResult r = finish_process(launcher, options);
    EXPECT_EQ(r.exit_code, 0xDEADu);
    EXPECT_EQ(WaitForSingleObject(child, 10000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the child still runs without its launcher";
    CloseHandle(child);
}

// What a watch of a launcher's progress window saw, polled every 10 ms from
// the start until the child's report came (or the launcher ended).
struct ProgressWatch {
    HWND window = NULL;
    bool shown = false;
    bool was_foreground = false;
    LONG_PTR extended_style = 0;
    std::vector<std::wstring> texts;  // the last read while it showed
    bool counts_advanced = false;     // counts with files written seen
    bool open_when_child_ran = false;
    std::string report;
};

ProgressWatch watch_progress(const StartedProcess &launcher, const std::wstring &report_path)
{
    ProgressWatch seen;
    FoundWindow want = {launcher.info.dwProcessId, PROGRESS_WINDOW_CLASS, PROGRESS_PRODUCT, NULL};
    const std::wregex advanced(L"[0-9]+\\.[0-9]/[0-9]+\\.[0-9] MB, [1-9][0-9]*/10001 files");
    for (int i = 0; i < 12000; i++) {
        if (seen.window == NULL) {
            EnumWindows(match_window, reinterpret_cast<LPARAM>(&want));
            seen.window = want.found;
        }
        if (seen.window != NULL && IsWindowVisible(seen.window)) {
            seen.shown = true;
            seen.extended_style = GetWindowLongPtrW(seen.window, GWL_EXSTYLE);
            if (GetForegroundWindow() == seen.window) seen.was_foreground = true;
            std::vector<std::wstring> texts;
            EnumChildWindows(seen.window, collect_static_texts, reinterpret_cast<LPARAM>(&texts));
            if (!texts.empty()) seen.texts = texts;
            for (const std::wstring &text : texts) {
                if (std::regex_match(text, advanced)) seen.counts_advanced = true;
            }
        }
        const std::string report = file_exists(report_path) ? read_file(report_path) : "";
        if (report.find("\nhandles=") != std::string::npos) {
            // Written by the running child: by now the window must be gone.
            seen.open_when_child_ran = seen.window != NULL && IsWindow(seen.window);
            seen.report = report;
            break;
        }
        if (WaitForSingleObject(launcher.info.hProcess, 10) != WAIT_TIMEOUT) break;
    }
    return seen;
}

TEST(WindowedProgress, FirstStartShowsAWindowThatNeverTakesTheFocusAndIsGoneBeforeTheProgram)
{
    // Under Wine with no window manager, the foreground window is the last
    // one activated; a window shown the usual way becomes it, so the check
    // below can see a window that takes the focus.
    struct Case {
        const char *what;
        bool warm;  // a second start in the same folder
        int show;   // -1: no show state given
        bool window_expected;
    } cases[] = {
        {"first start", false, -1, true},
        {"warm start: nothing to write, nothing shown", true, -1, false},
        {"first start, started minimized: no window of ours", false, SW_SHOWMINNOACTIVE, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        RunOptions options = launcher_options(L"progress_windowed_onefile.exe", scratch);
        options.no_standard_handles = true;
        options.show_window = c.show;
        options.set_env.push_back({L"REPORT_EXIT", L"0"});
        // Still running when the watch reads its report, so the launcher is too.
        options.set_env.push_back({L"REPORT_SLEEP_MS", L"1500"});
        if (c.warm) {
            RunResult first = run_process(options);
            ASSERT_EQ(first.exit_code, 0u) << "the first start: " << first.standard_error;
            DeleteFileW((scratch.dir + L"\\report").c_str());
        }
        StartedProcess launcher = start_process(options);
        ASSERT_NE(launcher.info.hProcess, nullptr) << launcher.start_error;
        const ProgressWatch seen = watch_progress(launcher, scratch.dir + L"\\report");
        RunResult r = finish_process(launcher, options);
        EXPECT_EQ(r.exit_code, 0u);
        EXPECT_NE(seen.report, "") << "the program never ran";
        EXPECT_EQ(seen.shown, c.window_expected) << "a progress window shown";
        EXPECT_FALSE(seen.open_when_child_ran) << "the window was still there when the program ran";
        if (!c.window_expected) continue;
        EXPECT_FALSE(seen.was_foreground) << "the window took the focus";
        EXPECT_NE(seen.extended_style & WS_EX_NOACTIVATE, 0) << "the window can be activated";
        ASSERT_EQ(seen.texts.size(), 3u);
        EXPECT_EQ(narrow(seen.texts[0]), "Windowed Progress") << "the product name";
        EXPECT_EQ(narrow(seen.texts[1]), "Unpacking Windowed Progress") << "the expanded --progress-message";
        EXPECT_TRUE(seen.counts_advanced) << "last counts read: " << narrow(seen.texts[2]);
    }
}

}  // namespace
