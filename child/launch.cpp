// launch.cpp: starts the main binary as a child and waits for it.
#include "child/launch.h"

#include <wchar.h>

#include "child/child_environment.h"
#include "child/child_handle.h"
#include "child/child_job.h"
#include "child/console_events.h"
#include "child/session_end.h"
#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/environment.h"
#include "pathspec/run_values.h"

// The launcher's own path cut at its last backslash; a drive root gives
// "C:". A path the platform had to cut names another directory: that ends
// the run rather than publish a wrong one.
static void launcher_directory(const ProcessFacts &facts, wchar_t directory[LAUNCHER_PATH_CAPACITY])
{
    if (!facts.own_path_known) {
        terminate_abnormally();
    }
    copy_wide(directory, LAUNCHER_PATH_CAPACITY, facts.own_path);
    wchar_t *last_backslash = wcsrchr(directory, L'\\');
    if (last_backslash != NULL) {
        *last_backslash = L'\0';
    }
}

static bool is_handle(HANDLE handle)
{
    return handle != NULL && handle != INVALID_HANDLE_VALUE;
}

// What the launcher was given for its program's first window and streams.
static void describe_child_startup(STARTUPINFOW *startup)
{
    ZeroMemory(startup, sizeof *startup);
    startup->cb = sizeof *startup;
    STARTUPINFOW own;
    GetStartupInfoW(&own);
    // A shortcut's "Run: minimized" and the like are meant for the
    // application's first window, not for the launcher, which shows none.
    if ((own.dwFlags & STARTF_USESHOWWINDOW) != 0) {
        startup->dwFlags |= STARTF_USESHOWWINDOW;
        startup->wShowWindow = own.wShowWindow;
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    // Passed as they are when there is at least one: the child gets what we
    // got. With none (a windowed launcher started from the desktop), handing
    // on nulls would take from a console program the handles of the console
    // it is given.
    if (is_handle(input) || is_handle(output) || is_handle(error)) {
        startup->dwFlags |= STARTF_USESTDHANDLES;
        startup->hStdInput = input;
        startup->hStdOutput = output;
        startup->hStdError = error;
    }
}

// The unpack directory without the backslashes it may end in (a
// specification that ends in one, a drive's root), as {UNPACK_DIR} gives it.
static void unpack_directory_for_child(const wchar_t *unpack_directory, wchar_t directory[WIDE_PATH_CAPACITY])
{
    copy_wide(directory, WIDE_PATH_CAPACITY, unpack_directory);
    trim_trailing_backslashes(directory, wcslen(directory));
}

// Ends a child that never ran (still suspended) with the interruption
// status, and waits until it is gone, so that its exit code is final.
static void end_unstarted_child(HANDLE process)
{
    TerminateProcess(process, CHILD_INTERRUPTED_STATUS);
    WaitForSingleObject(process, INFINITE);
}

// The launcher's own variables and the build's, each set whole or the
// launch fails: a value cut short would reach the child silently.
static StageResult set_child_variables(const LaunchShared *launch, const ChildExpansion *expansion)
{
    wchar_t directory[LAUNCHER_PATH_CAPACITY];
    launcher_directory(launch->process, directory);
    wchar_t unpacked[WIDE_PATH_CAPACITY];
    unpack_directory_for_child(launch->unpack_directory, unpacked);
    if (!set_env_var("ZOBREL_ONEFILE_DIRECTORY", directory) ||
        !set_env_var("ZOBREL_ORIGINAL_ARGV0", launch->process.argv0) ||
        !set_env_var("ZOBREL_ONEFILE_UNPACK_DIRECTORY", unpacked)) {
        return stage_failed(FAILURE_LAUNCH, GetLastError());
    }
    if (run_value_pin_error() != 0) {
        return stage_failed(FAILURE_LAUNCH, run_value_pin_error());
    }
    // The build's own last: no name of the launcher's is among them.
    return set_child_environment(launch, expansion);
}

// What keeps the child's folder from any tidy while it runs, handed to the
// child to hold too: the folder's claim (payload/unpack_lock.h) and its
// build marker (tidy/build_marker.h). Even a launcher killed without the
// job's tie then leaves its folder held for as long as the program runs.
static void let_child_inherit_folder_holds(HANDLE claim, HANDLE build_marker)
{
    const HANDLE holds[] = {claim, build_marker};
    for (HANDLE hold : holds) {
        if (hold != NULL) {
            SetHandleInformation(hold, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        }
    }
}

StageResult launch_child(const LaunchShared *launch, ChildStage *child, HANDLE build_marker,
                         unsigned long *exit_status)
{
    ChildState *state = &child->state;
    StageResult step = set_child_variables(launch, &child->expansion);
    if (failed(step)) {
        return step;
    }

    STARTUPINFOW startup;
    describe_child_startup(&startup);

    wchar_t *command_line = child->command_line;

    // An event that already ended the run (while unpacking) is being handled
    // by the platform's default right now: start nothing, end as it would.
    if (!begin_child_launch(state)) {
        ExitProcess(CHILD_INTERRUPTED_STATUS);
    }

    // Created suspended and let run only once its handle is published: a
    // console event at any moment meanwhile either finds the child through
    // that handle, or (before it runs) marks the launch interrupted, and the
    // child is then ended without having run. There is no moment at which an
    // event finds no child while one can run, and none at which the launcher
    // ends with a suspended child left behind: the handler waits for the
    // launch to be settled (child_handle.h).
    const bool windowed = launch->launcher_kind == LAUNCHER_WINDOWED;
    make_child_job(&child->session);
    if (windowed) {
        watch_session_end(launch, child);
    }
    let_child_inherit_folder_holds(launch->unpack_claim, build_marker);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    BOOL created = CreateProcessW(/* lpApplicationName */ launch->main_binary_path,
                                  /* lpCommandLine, writable */ command_line,
                                  /* lpProcessAttributes */ NULL,
                                  /* lpThreadAttributes */ NULL,
                                  /* bInheritHandles: the standard handles and
                                     the folder's holds */
                                  TRUE,
                                  /* dwCreationFlags: same console and process group,
                                     so the child gets the same console events (a
                                     windowed launcher has none: a console program
                                     gets a console of its own from the system) */
                                  NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED,
                                  /* lpEnvironment: ours, with the variables above */ NULL,
                                  /* lpCurrentDirectory: ours */ NULL, &startup, &process);
    if (!created) {
        DWORD error = GetLastError();
        abandon_child_launch(state);
        return stage_failed(FAILURE_LAUNCH, error);
    }
    if (child->launch_window_hook != NULL) {
        child->launch_window_hook(child);
    }
    put_child_in_job(&child->session, process.hProcess);
    if (windowed) {
        tie_child_to_launcher(child, process);
    }

    publish_child_handle(state, process.hProcess);
    if (!let_child_run(state)) {
        end_unstarted_child(process.hProcess);
        mark_child_running(state);
    } else if (ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
        DWORD error = GetLastError();
        end_unstarted_child(process.hProcess);
        return stage_failed(FAILURE_LAUNCH, error);
    }
    CloseHandle(process.hThread);

    if (windowed) {
        wait_answering_session_end(child, process.hProcess);
    } else {
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    *exit_status = GetExitCodeProcess(process.hProcess, &code) ? code : 1;
    record_child_exit_status(state, *exit_status);
    release_child_handle(state);
    return stage_succeeded();
}
