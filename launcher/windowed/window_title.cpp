// window_title.cpp: the product's name, or the launcher's own, for a window's title.
#include "launcher/windowed/window_title.h"

#include <wchar.h>

#include "common/wide_buffer.h"

void window_title(const LaunchContext *context, wchar_t *title, size_t capacity)
{
    const wchar_t *product = context->shared.build.product;
    if (product != NULL && product[0] != L'\0') {
        copy_wide(title, capacity, product);
        return;
    }
    const wchar_t *path = context->shared.process.own_path;
    const wchar_t *name = wcsrchr(path, L'\\');
    copy_wide(title, capacity, name != NULL ? name + 1 : path);
    size_t length = wcslen(title);
    if (length > 4 && _wcsicmp(title + length - 4, L".exe") == 0) {
        title[length - 4] = L'\0';
    }
}
