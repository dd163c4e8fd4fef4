// user32.h: the window functions the windowed launcher calls, taken from the
// system folder's user32.dll at their first use. The launcher never imports
// user32 statically: the console launcher never loads it (a console program
// that has user32 loaded no longer gets logoff and shutdown events), and a
// user32.dll beside the launcher or in the current directory is never the
// one loaded.
#ifndef ZOBREL_COMMON_USER32_H
#define ZOBREL_COMMON_USER32_H

#include <windows.h>

struct User32 {
    decltype(&::MessageBoxW) message_box;
    decltype(&::GetProcessWindowStation) get_process_window_station;
    decltype(&::GetUserObjectInformationW) get_user_object_information;
    decltype(&::AllowSetForegroundWindow) allow_set_foreground_window;
    decltype(&::RegisterClassExW) register_class;
    decltype(&::CreateWindowExW) create_window;
    decltype(&::DefWindowProcW) default_window_procedure;
    decltype(&::MsgWaitForMultipleObjects) wait_for_objects_or_messages;
    decltype(&::PeekMessageW) peek_message;
    decltype(&::DispatchMessageW) dispatch_message;
    decltype(&::EnumWindows) enumerate_windows;
    decltype(&::GetWindowThreadProcessId) window_process;
    decltype(&::IsWindowVisible) is_window_visible;
    decltype(&::PostMessageW) post_message;
    // The progress window of a first start.
    decltype(&::SendMessageW) send_message;
    decltype(&::SetWindowPos) set_window_position;
    decltype(&::AdjustWindowRectEx) adjust_window_rectangle;
    decltype(&::GetSystemMetrics) system_metrics;
    decltype(&::SetWindowTextW) set_window_text;
    decltype(&::InvalidateRect) invalidate_rectangle;
    decltype(&::UpdateWindow) update_window;
    decltype(&::BeginPaint) begin_paint;
    decltype(&::EndPaint) end_paint;
    decltype(&::GetClientRect) client_rectangle;
    decltype(&::FillRect) fill_rectangle;
    decltype(&::FrameRect) frame_rectangle;
    decltype(&::GetSysColorBrush) system_color_brush;
    decltype(&::DestroyWindow) destroy_window;
    decltype(&::LoadCursorW) load_cursor;
};

// The functions, all of them, or null when user32.dll cannot be loaded from
// the system folder or lacks one of them. Loaded once; the module stays
// loaded for the life of the process. Main thread only.
const User32 *user32();

#endif
