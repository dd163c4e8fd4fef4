// launch_probe.cpp: the launcher's last stage without a payload. It prepares
// the environment and registers the console handler as the launcher does,
// then starts a chosen program through launch_child with all of its own
// arguments, and exits with what launch_child returns.
//
// The program is PROBE_CHILD, or report-app\report_child.exe next to the probe.
// PROBE_DELAY_MS makes it wait that long before the launch (a console event
// then finds no child).
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "child/console_events.h"
#include "child/launch.h"
#include "common/fatal.h"
#include "common/state.h"
#include "common/wide_buffer.h"
#include "pathspec/run_values.h"

int wmain(int argc, wchar_t **argv)
{
    (void)argc;
    SetDllDirectoryW(L"");
    prepare_run_environment();
    if (!SetConsoleCtrlHandler(console_event_handler, TRUE)) {
        fatal_error("Error, failed to register signal handler.");
    }

    const wchar_t *chosen = _wgetenv(L"PROBE_CHILD");
    if (chosen != NULL && chosen[0] != L'\0') {
        copy_wide(g_main_binary_path, WIDE_PATH_CAPACITY, chosen);
    } else {
        wchar_t own[WIDE_PATH_CAPACITY];
        DWORD n = GetModuleFileNameW(NULL, own, WIDE_PATH_CAPACITY);
        if (n == 0 || n >= WIDE_PATH_CAPACITY) return 100;
        *wcsrchr(own, L'\\') = L'\0';
        copy_wide(g_main_binary_path, WIDE_PATH_CAPACITY, own);
        append_wide(g_main_binary_path, WIDE_PATH_CAPACITY, L"\\report-app\\report_child.exe");
    }

    const wchar_t *delay = _wgetenv(L"PROBE_DELAY_MS");
    if (delay != NULL) Sleep(wcstoul(delay, NULL, 0));

    return static_cast<int>(launch_child(argv[0]));
}
