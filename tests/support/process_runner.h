// process_runner.h: runs a Windows program the way a user would, and
// captures what it did: raw standard output and standard error (separately),
// the full 32-bit exit code read with GetExitCodeProcess, how long it ran
// and, when asked, its peak private memory. Tests and benchmarks share it.
#ifndef ZOBREL_TESTS_SUPPORT_PROCESS_RUNNER_H
#define ZOBREL_TESTS_SUPPORT_PROCESS_RUNNER_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// The exit status of the launcher's abnormal termination (the platform's
// fail-fast: STATUS_STACK_BUFFER_OVERRUN).
const DWORD FAIL_FAST_STATUS = 0xC0000409;

struct RunOptions {
    std::wstring application;   // program path; empty: taken from the command line
    std::wstring command_line;  // whole command line, argv[0] included
    std::vector<std::pair<std::wstring, std::wstring>> set_env;  // added or replaced
    std::vector<std::wstring> unset_env;                         // removed
    std::wstring current_directory;                              // empty: ours
    std::string standard_input;                                  // fed from a file
    DWORD timeout_ms = 120000;   // the process is killed (and the test fails) after this
    bool sample_memory = false;  // sample its private memory while it runs (MemorySampler)
    int show_window = -1;        // >= 0: given as STARTUPINFO's wShowWindow (STARTF_USESHOWWINDOW)
    bool no_standard_handles =
        false;                 // its standard handles are null, as a program started from the desktop has
    std::wstring desktop;      // STARTUPINFO's lpDesktop ("station\\desktop"); empty: ours
    DWORD creation_flags = 0;  // added to CreateProcessW's (CREATE_NEW_CONSOLE, ...)
};

struct RunResult {
    DWORD exit_code = 0;
    std::string standard_output;  // raw bytes, CR LF as written
    std::string standard_error;
    bool timed_out = false;
    DWORD process_id = 0;
    double seconds = 0;                   // from just before CreateProcessW to its end
    unsigned long long peak_private = 0;  // with sample_memory: bytes, sampled every millisecond
};

RunResult run_process(const RunOptions &options);

// Runs `program` (a full path, quoted here), then `arguments` when given,
// with TMP and TEMP set to `temp`: a packed launcher's {TEMP} folders then
// lie under it.
RunResult run_with_temp(const std::wstring &program, const std::wstring &temp,
                        const std::wstring &arguments = L"");

// A program started by start_process and not yet waited for.
struct StartedProcess {
    PROCESS_INFORMATION info = {};  // zeroed when it could not be started
    std::wstring folder;            // its standard streams' files
    std::string start_error;        // why it could not be started
    double started = 0;             // now_seconds() just before CreateProcessW
};

// Starts the program as run_process does (suspended when asked: the caller
// lets it go with ResumeThread on info.hThread) and returns at once.
StartedProcess start_process(const RunOptions &options, bool suspended = false);

// Waits for a started program as run_process does, within options'
// timeout, and gives what it did; its handles and files go.
RunResult finish_process(StartedProcess &started, const RunOptions &options);
// CreateProcessW, run once more when Wine fails to start the new process on
// its own: the process dies while Wine sets it up, and the call fails with
// ERROR_INTERNAL_ERROR, or with no error at all (Windows reports neither
// for a start that fails). Seen about once in a few hundred starts on a
// loaded machine. The retry is reported on standard error and appended to
// the test run's retry log ($ZOBREL_WINE_RETRY_LOG), which the run prints;
// any other failure, or a second one, is returned as it is.
BOOL create_process(const wchar_t *application, wchar_t *command_line, BOOL inherit_handles, DWORD flags,
                    void *environment, const wchar_t *current_directory, STARTUPINFOW *startup,
                    PROCESS_INFORMATION *process);

// Our environment with options.unset_env removed and options.set_env applied
// (names compared without case, as Windows does), as a block for
// CreateProcessW with CREATE_UNICODE_ENVIRONMENT.
std::vector<wchar_t> environment_block(const RunOptions &options);

// An inheritable handle to a file, for a child's standard stream; shared for
// reading, writing and deleting.
HANDLE open_inheritable(const std::wstring &path, DWORD access, DWORD disposition);

// The system's English text for an error code (FormatMessageA, language
// 1033) with its trailing line breaks cut, as the launcher prints it; empty
// when the system has none.
std::string system_error_text(DWORD code);

// Quotes one argument for a command line so CommandLineToArgvW gives it back.
std::wstring quote_argument(const std::wstring &argument);

#endif
