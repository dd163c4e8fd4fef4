// launch_probe.cpp: the launcher's last stage without a payload. It prepares
// the environment and registers the console handler as the launcher does,
// then builds the child's command line and starts a chosen program through
// launch_child with all of its own arguments, and exits with the exit code launch_child gives, or ends
// through the launcher's failure report as the launcher would.
//
// The program is PROBE_CHILD, or report-app\report_child.exe next to the probe.
// PROBE_DELAY_MS makes it wait that long before the launch (a console event
// then finds no child). PROBE_HOLD_UNTIL=path holds the launch between the
// child's creation and the publication of its handle until that file exists;
// PROBE_HELD=path is written when the hold begins. PROBE_EVENTS=path gets a
// line "event N" for each console event, written by a handler that runs just
// before the launcher's own and passes every event on to it.
// PROBE_CLOSE_WHEN=path delivers a console close event, as the platform does
// on a thread of its own, once that file exists (Wine sends none when its
// terminal goes away).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "child/cmdline.h"
#include "child/console_events.h"
#include "child/launch.h"
#include "launcher/launch_context.h"
#include "common/wide_buffer.h"
#include "launcher/failure_report.h"
#include "pathspec/run_values.h"

namespace {

LaunchContext g_launch;

std::wstring g_hold_until;
std::wstring g_held;

void hold_launch(ChildStage *)
{
    HANDLE held = CreateFileW(g_held.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    while (GetFileAttributesW(g_hold_until.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(10);
}

std::wstring g_events;

BOOL WINAPI note_event(DWORD event)
{
    HANDLE f = CreateFileW(g_events.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        char line[32];
        int n = snprintf(line, sizeof line, "event %lu\n", static_cast<unsigned long>(event));
        DWORD written = 0;
        WriteFile(f, line, static_cast<DWORD>(n), &written, NULL);
        CloseHandle(f);
    }
    return FALSE;
}

std::wstring g_close_when;

DWORD WINAPI close_later(void *)
{
    while (GetFileAttributesW(g_close_when.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(10);
    console_event_handler(CTRL_CLOSE_EVENT);
    // What the platform does after a close handler has returned.
    ExitProcess(0xC000013A);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    (void)argc;
    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    SetDllDirectoryW(L"");
    prepare_run_environment();
    StageResult result = register_console_handler(&context->child.state);
    if (failed(result)) end_with_failure(result, report_on_console);
    const wchar_t *events = _wgetenv(L"PROBE_EVENTS");
    if (events != NULL && events[0] != L'\0') {
        // Registered later, so called first.
        g_events = events;
        SetConsoleCtrlHandler(note_event, TRUE);
    }

    const wchar_t *chosen = _wgetenv(L"PROBE_CHILD");
    if (chosen != NULL && chosen[0] != L'\0') {
        copy_wide(context->shared.main_binary_path, WIDE_PATH_CAPACITY, chosen);
    } else {
        if (!context->shared.process.own_path_known) return 100;
        copy_wide(context->shared.main_binary_path, WIDE_PATH_CAPACITY, context->shared.process.own_path);
        *wcsrchr(context->shared.main_binary_path, L'\\') = L'\0';
        append_wide(context->shared.main_binary_path, WIDE_PATH_CAPACITY, L"\\report-app\\report_child.exe");
    }

    const wchar_t *close_when = _wgetenv(L"PROBE_CLOSE_WHEN");
    if (close_when != NULL && close_when[0] != L'\0') {
        g_close_when = close_when;
        CloseHandle(CreateThread(NULL, 0, close_later, NULL, 0, NULL));
    }

    const wchar_t *hold_until = _wgetenv(L"PROBE_HOLD_UNTIL");
    const wchar_t *held = _wgetenv(L"PROBE_HELD");
    if (hold_until != NULL && held != NULL) {
        g_hold_until = hold_until;
        g_held = held;
        context->child.launch_window_hook = hold_launch;
    }

    const wchar_t *delay = _wgetenv(L"PROBE_DELAY_MS");
    if (delay != NULL) Sleep(wcstoul(delay, NULL, 0));

    unsigned long exit_status = 0;
    result = build_child_command_line(&context->shared, &context->child);
    if (failed(result)) end_with_failure(result, report_on_console);
    result = launch_child(&context->shared, &context->child, context->tidy.marker, &exit_status);
    if (failed(result)) end_with_failure(result, report_on_console);
    return static_cast<int>(exit_status);
}
