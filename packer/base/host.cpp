// host.cpp: terminal, process id, arguments, console and signals on Linux and Windows.
#include "base/host.h"

#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/error.h"
#include "base/text.h"

namespace zobrel {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void note_interrupt(int)
{
    g_interrupted = 1;
}

#if defined(_WIN32)
const int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
const size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
void (*g_previous[kSignalCount])(int);

}  // namespace

bool stderr_is_terminal()
{
#if defined(_WIN32)
    return _isatty(2) != 0;
#else
    return isatty(2) != 0;
#endif
}

unsigned long current_process_id()
{
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::vector<std::string> utf8_arguments(int argc, char **argv)
{
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide != nullptr && i < count; ++i) {
        std::u16string units(reinterpret_cast<const char16_t *>(wide[i]));
        std::string text;
        utf16_to_utf8(units, text);
        args.push_back(text);
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

void use_utf8_console()
{
#if defined(_WIN32)
    SetConsoleOutputCP(CP_UTF8);
#endif
}

InterruptGuard::InterruptGuard()
{
    g_interrupted = 0;
    for (size_t i = 0; i < kSignalCount; ++i) g_previous[i] = std::signal(kSignals[i], note_interrupt);
}

InterruptGuard::~InterruptGuard()
{
    for (size_t i = 0; i < kSignalCount; ++i) std::signal(kSignals[i], g_previous[i]);
}

void InterruptGuard::check()
{
    if (g_interrupted) throw PackError("interrupted; nothing was written");
}

}  // namespace zobrel
