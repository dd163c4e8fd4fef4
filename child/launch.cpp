// launch.cpp: starts the main binary as a child and waits for it.
#include "child/launch.h"

#include <wchar.h>

#include "child/child_handle.h"
#include "child/cmdline.h"
#include "common/fatal.h"
#include "common/platform.h"
#include "common/state.h"
#include "common/wide_buffer.h"
#include "pathspec/environment.h"
#include "pathspec/paths.h"

static wchar_t g_launcher_path[LAUNCHER_PATH_CAPACITY];
static wchar_t g_launcher_directory[LAUNCHER_PATH_CAPACITY];

// The launcher's own path, once. A path the platform had to cut names another
// directory: that ends the run rather than publish a wrong one.
static void fill_launcher_path()
{
    if (g_launcher_path[0] == L'\0' && !read_own_path(g_launcher_path, LAUNCHER_PATH_CAPACITY)) {
        terminate_abnormally();
    }
}

// The launcher path cut at its last backslash; a drive root gives "C:".
static void fill_launcher_directory()
{
    copy_wide(g_launcher_directory, LAUNCHER_PATH_CAPACITY, g_launcher_path);
    wchar_t *last_backslash = wcsrchr(g_launcher_directory, L'\\');
    if (last_backslash != NULL) {
        *last_backslash = L'\0';
    }
}

unsigned long launch_child(const wchar_t *argv0)
{
    fill_launcher_path();
    fill_launcher_directory();
    set_env_var("ZOBREL_ONEFILE_DIRECTORY", g_launcher_directory);
    set_env_var("ZOBREL_ORIGINAL_ARGV0", argv0);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    // Stored as they are, null or invalid included: the child gets what we got.
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.cb = sizeof startup;

    // Built only now, after both variables are set.
    wchar_t *command_line = build_child_command_line();

    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    BOOL created = CreateProcessW(/* lpApplicationName */ g_main_binary_path,
                                  /* lpCommandLine, writable */ command_line,
                                  /* lpProcessAttributes */ NULL,
                                  /* lpThreadAttributes */ NULL,
                                  /* bInheritHandles: the standard handles */ TRUE,
                                  /* dwCreationFlags: same console and process group,
                                     so the child gets the same console events */
                                  NORMAL_PRIORITY_CLASS,
                                  /* lpEnvironment: ours, with the variables above */ NULL,
                                  /* lpCurrentDirectory: ours */ NULL, &startup, &process);
    if (!created) {
        fatal_error_with_code("Error, couldn't launch child", GetLastError());
    }
    CloseHandle(process.hThread);

    unsigned long exit_status = 0;
    if (process.hProcess == NULL) {
        return exit_status;
    }
    publish_child_handle(process.hProcess);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    exit_status = GetExitCodeProcess(process.hProcess, &code) ? code : 1;
    release_child_handle();
    return exit_status;
}
