// user32.cpp: finds the functions the windowed launcher uses in the system folder's user32.dll.
#include "common/user32.h"

#include "common/system_library.h"

static User32 g_user32;
static bool g_tried;
static bool g_loaded;

// GetProcAddress gives a FARPROC, whatever the function's type.
template <typename Function>
static bool find(const char *name, Function *function)
{
    FARPROC address = system_function(L"user32.dll", name);
    *function = reinterpret_cast<Function>(reinterpret_cast<void *>(address));
    return address != NULL;
}

static bool load(User32 *u)
{
    return find("MessageBoxW", &u->message_box) &&
           find("GetProcessWindowStation", &u->get_process_window_station) &&
           find("GetUserObjectInformationW", &u->get_user_object_information) &&
           find("AllowSetForegroundWindow", &u->allow_set_foreground_window) &&
           find("RegisterClassExW", &u->register_class) && find("CreateWindowExW", &u->create_window) &&
           find("DefWindowProcW", &u->default_window_procedure) &&
           find("MsgWaitForMultipleObjects", &u->wait_for_objects_or_messages) &&
           find("PeekMessageW", &u->peek_message) && find("DispatchMessageW", &u->dispatch_message) &&
           find("EnumWindows", &u->enumerate_windows) &&
           find("GetWindowThreadProcessId", &u->window_process) &&
           find("IsWindowVisible", &u->is_window_visible) && find("PostMessageW", &u->post_message) &&
           find("SendMessageW", &u->send_message) && find("SetWindowPos", &u->set_window_position) &&
           find("AdjustWindowRectEx", &u->adjust_window_rectangle) &&
           find("GetSystemMetrics", &u->system_metrics) && find("SetWindowTextW", &u->set_window_text) &&
           find("InvalidateRect", &u->invalidate_rectangle) && find("UpdateWindow", &u->update_window) &&
           find("BeginPaint", &u->begin_paint) && find("EndPaint", &u->end_paint) &&
           find("GetClientRect", &u->client_rectangle) && find("FillRect", &u->fill_rectangle) &&
           find("FrameRect", &u->frame_rectangle) && find("GetSysColorBrush", &u->system_color_brush) &&
           find("DestroyWindow", &u->destroy_window) && find("LoadCursorW", &u->load_cursor);
}

const User32 *user32()
{
    if (!g_tried) {
        g_tried = true;
        g_loaded = load(&g_user32);
    }
    return g_loaded ? &g_user32 : NULL;
}
