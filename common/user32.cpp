// user32.cpp: finds the functions the windowed launcher uses in the system folder's user32.dll.
#include "common/user32.h"

#include "common/system_library.h"

static User32 g_user32;
static bool g_tried;
static bool g_loaded;

// GetProcAddress gives a FARPROC, whatever the function's type.
template <typename Function>
static bool find(HMODULE module, const char *name, Function *function)
{
    FARPROC address = GetProcAddress(module, name);
    *function = reinterpret_cast<Function>(reinterpret_cast<void *>(address));
    return address != NULL;
}

static bool load(User32 *u)
{
    HMODULE module = system_library(L"user32.dll");
    if (module == NULL) {
        return false;
    }
    return find(module, "MessageBoxW", &u->message_box) &&
           find(module, "GetProcessWindowStation", &u->get_process_window_station) &&
           find(module, "GetUserObjectInformationW", &u->get_user_object_information) &&
           find(module, "AllowSetForegroundWindow", &u->allow_set_foreground_window) &&
           find(module, "RegisterClassExW", &u->register_class) &&
           find(module, "CreateWindowExW", &u->create_window) &&
           find(module, "DefWindowProcW", &u->default_window_procedure) &&
           find(module, "MsgWaitForMultipleObjects", &u->wait_for_objects_or_messages) &&
           find(module, "PeekMessageW", &u->peek_message) &&
           find(module, "DispatchMessageW", &u->dispatch_message) &&
           find(module, "EnumWindows", &u->enumerate_windows) &&
           find(module, "GetWindowThreadProcessId", &u->window_process) &&
           find(module, "IsWindowVisible", &u->is_window_visible) &&
           find(module, "PostMessageW", &u->post_message) && find(module, "SendMessageW", &u->send_message) &&
           find(module, "SetWindowPos", &u->set_window_position) &&
           find(module, "AdjustWindowRectEx", &u->adjust_window_rectangle) &&
           find(module, "GetSystemMetrics", &u->system_metrics) &&
           find(module, "SetWindowTextW", &u->set_window_text) &&
           find(module, "InvalidateRect", &u->invalidate_rectangle) &&
           find(module, "UpdateWindow", &u->update_window) && find(module, "BeginPaint", &u->begin_paint) &&
           find(module, "EndPaint", &u->end_paint) && find(module, "GetClientRect", &u->client_rectangle) &&
           find(module, "FillRect", &u->fill_rectangle) && find(module, "FrameRect", &u->frame_rectangle) &&
           find(module, "GetSysColorBrush", &u->system_color_brush) &&
           find(module, "DestroyWindow", &u->destroy_window) && find(module, "LoadCursorW", &u->load_cursor);
}

const User32 *user32()
{
    if (!g_tried) {
        g_tried = true;
        g_loaded = load(&g_user32);
    }
    return g_loaded ? &g_user32 : NULL;
}
