// session_end.cpp: the windowed launcher's hidden window, its child's foreground right, and its wait.
#include "child/session_end.h"

#include "child/console_events.h"
#include "common/user32.h"

// The child the window acts for. A window procedure cannot be handed the
// child stage, so it keeps this one pointer, set before the window exists.
static ChildStage *g_session_child;

static BOOL CALLBACK close_child_window(HWND window, LPARAM child_id)
{
    const User32 *u = user32();
    DWORD owner = 0;
    u->window_process(window, &owner);
    if (owner == static_cast<DWORD>(child_id) && u->is_window_visible(window)) {
        u->post_message(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

static LRESULT CALLBACK session_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wparam) {
            // Windows ends the launcher soon after this returns; ending it
            // here, once the child is gone, makes its status the child's.
            ExitProcess(end_child_for_close(&g_session_child->state));
        }
        return 0;
    case WM_CLOSE:
        // Never destroyed by a close: the window still has a session to hear.
        user32()->enumerate_windows(close_child_window,
                                    static_cast<LPARAM>(g_session_child->session.child_id));
        return 0;
    }
    return user32()->default_window_procedure(window, message, wparam, lparam);
}

void watch_session_end(const LaunchShared *launch, ChildStage *child)
{
    SessionWatch *session = &child->session;
    const User32 *u = user32();
    if (u == NULL) {
        return;
    }
    g_session_child = child;
    WNDCLASSEXW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = session_window_procedure;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.lpszClassName = SESSION_WINDOW_CLASS;
    if (u->register_class(&window_class) == 0) {
        return;
    }
    // Top-level, never shown: a message-only window would not hear the
    // session's end, which is sent to top-level windows.
    const wchar_t *title = launch->build.product != NULL ? launch->build.product : L"";
    session->window = u->create_window(/* dwExStyle */ 0, SESSION_WINDOW_CLASS, title, WS_OVERLAPPED,
                                       /* x, y, width, height */ 0, 0, 0, 0, /* hWndParent */ NULL,
                                       /* hMenu */ NULL, window_class.hInstance, /* lpParam */ NULL);
}

void tie_child_to_launcher(ChildStage *child, const PROCESS_INFORMATION &process)
{
    child->session.child_id = process.dwProcessId;
    // Effective only while the launcher may itself take the foreground (the
    // user started it and has not turned to something else meanwhile).
    const User32 *u = user32();
    if (u != NULL) {
        u->allow_set_foreground_window(process.dwProcessId);
    }
}

void wait_answering_session_end(ChildStage *child, HANDLE process)
{
    const User32 *u = user32();
    if (child->session.window == NULL || u == NULL) {
        WaitForSingleObject(process, INFINITE);
        return;
    }
    for (;;) {
        DWORD woke =
            u->wait_for_objects_or_messages(1, &process, /* fWaitAll */ FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 + 1) {
            // Sent messages (the session's end) are handled inside peeking.
            MSG message;
            while (u->peek_message(&message, /* hWnd: any of this thread's */ NULL, 0, 0, PM_REMOVE)) {
                u->dispatch_message(&message);
            }
            continue;
        }
        if (woke != WAIT_OBJECT_0) {
            // The wait itself failed: wait without the window.
            WaitForSingleObject(process, INFINITE);
        }
        return;
    }
}
