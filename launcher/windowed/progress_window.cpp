// progress_window.cpp: makes, redraws and closes the windowed launcher's progress window.
#include "launcher/windowed/progress_window.h"

#include <windows.h>

#include "common/system_library.h"
#include "common/user32.h"
#include "launcher/progress_measure.h"
#include "launcher/windowed/interactive_desktop.h"
#include "launcher/windowed/window_title.h"

// The client area's layout, in pixels: the product's name, the message, the
// bar, the counts.
static const int CLIENT_WIDTH = 360;
static const int CLIENT_HEIGHT = 116;
static const int MARGIN = 16;
static const int TEXT_HEIGHT = 20;
static const int PRODUCT_TOP = 12;
static const int MESSAGE_TOP = 34;
static const int BAR_TOP = 60;
static const int BAR_HEIGHT = 16;
static const int COUNTS_TOP = 84;
static const unsigned long BAR_SCALE = 1000;
static const size_t COUNTS_CAPACITY = 128;

struct ProgressWindow {
    ProgressMeasure measure;
    // Whether making the window was tried: once per start.
    bool tried;
    HWND window;
    HWND counts_text;
    // What the bar shows, 0 to BAR_SCALE.
    unsigned long share;
    wchar_t title[LAUNCHER_PATH_CAPACITY];
    wchar_t counts[COUNTS_CAPACITY];
};

static ProgressWindow g_window;

static RECT bar_rectangle()
{
    RECT bar = {MARGIN, BAR_TOP, CLIENT_WIDTH - MARGIN, BAR_TOP + BAR_HEIGHT};
    return bar;
}

static void paint_bar(HWND window)
{
    const User32 *u = user32();
    PAINTSTRUCT paint;
    HDC dc = u->begin_paint(window, &paint);
    if (dc == NULL) {
        return;
    }
    const RECT bar = bar_rectangle();
    u->frame_rectangle(dc, &bar, u->system_color_brush(COLOR_BTNSHADOW));
    RECT done = {bar.left + 1, bar.top + 1, bar.right - 1, bar.bottom - 1};
    RECT left = done;
    done.right = done.left + static_cast<LONG>((done.right - done.left) * g_window.share / BAR_SCALE);
    left.left = done.right;
    u->fill_rectangle(dc, &done, u->system_color_brush(COLOR_HIGHLIGHT));
    u->fill_rectangle(dc, &left, u->system_color_brush(COLOR_WINDOW));
    u->end_paint(window, &paint);
}

static LRESULT CALLBACK progress_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT:
        paint_bar(window);
        return 0;
    case WM_MOUSEACTIVATE:
        // A click on it must not take the focus from the program's window either.
        return MA_NOACTIVATE;
    case WM_CLOSE:
        // The unpack goes on whatever: the window goes when it ends.
        return 0;
    }
    return user32()->default_window_procedure(window, message, wparam, lparam);
}

// The user asked for the program hidden or minimized: no window of ours either.
static bool started_out_of_sight()
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) {
        return false;
    }
    switch (startup.wShowWindow) {
    case SW_HIDE:
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        return true;
    }
    return false;
}

static HWND make_text(const User32 *u, HWND parent, const wchar_t *text, int top, HGDIOBJ font)
{
    HWND label =
        u->create_window(/* dwExStyle */ 0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                         MARGIN, top, CLIENT_WIDTH - 2 * MARGIN, TEXT_HEIGHT, parent, /* hMenu */ NULL,
                         GetModuleHandleW(NULL), /* lpParam */ NULL);
    if (label != NULL && font != NULL) {
        u->send_message(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), /* redraw */ FALSE);
    }
    return label;
}

// The dialog font, from gdi32 (loaded here only): without it the texts keep
// the system font.
static HGDIOBJ dialog_font()
{
    typedef HGDIOBJ(WINAPI * StockObject)(int);
    FARPROC address = system_function(L"gdi32.dll", "GetStockObject");
    if (address == NULL) {
        return NULL;
    }
    return reinterpret_cast<StockObject>(reinterpret_cast<void *>(address))(DEFAULT_GUI_FONT);
}

static void make_window()
{
    g_window.tried = true;
    const User32 *u = user32();
    if (u == NULL || !desktop_is_interactive()) {
        return;
    }
    WNDCLASSEXW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = progress_window_procedure;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.hCursor = u->load_cursor(/* hInstance: the system's */ NULL, IDC_APPSTARTING);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = PROGRESS_WINDOW_CLASS;
    if (u->register_class(&window_class) == 0) {
        return;
    }
    // A bordered box with no caption, as a splash screen is: nothing to
    // close, never activated (so not on the taskbar either). A captioned
    // window would work as well on Windows; Wine, without a window manager
    // to confirm it, waits two seconds to destroy one.
    const DWORD style = WS_POPUP | WS_BORDER;
    const DWORD extended_style = WS_EX_NOACTIVATE;
    RECT frame = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    u->adjust_window_rectangle(&frame, style, /* bMenu */ FALSE, extended_style);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (u->system_metrics(SM_CXSCREEN) - width) / 2;
    const int y = (u->system_metrics(SM_CYSCREEN) - height) / 2;
    HWND window = u->create_window(extended_style, PROGRESS_WINDOW_CLASS, g_window.title, style, x, y, width,
                                   height, /* hWndParent */ NULL, /* hMenu */ NULL, window_class.hInstance,
                                   /* lpParam */ NULL);
    if (window == NULL) {
        return;
    }
    const HGDIOBJ font = dialog_font();
    make_text(u, window, g_window.title, PRODUCT_TOP, font);
    make_text(u, window, g_window.measure.message, MESSAGE_TOP, font);
    g_window.counts_text = make_text(u, window, L"", COUNTS_TOP, font);
    g_window.window = window;
    // Shown without activation: SetWindowPos, since a process's first
    // ShowWindow may take the show state its starter asked for instead.
    u->set_window_position(window, /* hWndInsertAfter */ NULL, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

static void redraw(const LaunchContext *context)
{
    const User32 *u = user32();
    ProgressLine counts = {g_window.counts, COUNTS_CAPACITY, 0};
    progress_line_append_counts(&counts, context, &g_window.measure);
    if (g_window.counts_text != NULL) {
        u->set_window_text(g_window.counts_text, g_window.counts);
    }
    g_window.share = progress_share(context, &g_window.measure, BAR_SCALE);
    const RECT bar = bar_rectangle();
    u->invalidate_rectangle(g_window.window, &bar, /* bErase */ FALSE);
    u->update_window(g_window.window);
    // Everything else the window was sent meanwhile (moves, the desktop's
    // repaints), so that it never looks hung while the unpack goes on.
    MSG message;
    while (u->peek_message(&message, /* hWnd: any of this thread's */ NULL, 0, 0, PM_REMOVE)) {
        u->dispatch_message(&message);
    }
}

static void progress_advanced(void *listener)
{
    LaunchContext *context = static_cast<LaunchContext *>(listener);
    if (!progress_draw_due(&g_window.measure)) {
        return;
    }
    if (!g_window.tried) {
        make_window();
    }
    if (g_window.window == NULL) {
        // No window to be had: the rest of the unpack without the callback.
        context->payload.progress.advanced = NULL;
        return;
    }
    redraw(context);
}

void progress_window_begin(LaunchContext *context)
{
    context->payload.progress.advanced = NULL;
    if (context->shared.launcher_kind != LAUNCHER_WINDOWED || started_out_of_sight()) {
        return;
    }
    if (!begin_progress_measure(context, &g_window.measure)) {
        return;
    }
    window_title(context, g_window.title, LAUNCHER_PATH_CAPACITY);
    g_window.tried = false;
    g_window.window = NULL;
    g_window.counts_text = NULL;
    g_window.share = 0;
    context->payload.progress.listener = context;
    context->payload.progress.advanced = progress_advanced;
}

void progress_window_end(LaunchContext *context)
{
    if (context->payload.progress.advanced == progress_advanced) {
        context->payload.progress.advanced = NULL;
    }
    if (g_window.window != NULL) {
        user32()->destroy_window(g_window.window);
        g_window.window = NULL;
        g_window.counts_text = NULL;
    }
}
