// host.cpp: terminal, process id, arguments, console and signals on Linux and Windows.
#include "base/host.h"

#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
const int SIGNALS[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
#endif
const size_t SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
void (*g_previous[SIGNAL_COUNT])(int);

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

void create_executable_file(const std::filesystem::path &path)
{
#if defined(_WIN32)
    (void)path;  // the output stream creates it; Windows has no execute bit to set
#else
    // open() applies the umask to 0777 itself, as a linker's output gets it.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0777);
    if (fd < 0) {
        const int error = errno;
        throw PackError("cannot create " + quoted(path) + ": " + std::strerror(error));
    }
    close(fd);
#endif
}

#if defined(_WIN32)
namespace {

std::u16string units_of(const wchar_t *text)
{
    return std::u16string(reinterpret_cast<const char16_t *>(text));
}

bool known_folder(int csidl, std::u16string &into)
{
    // The same query, with the same arguments, as the launcher's.
    wchar_t path[MAX_PATH];
    if (SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path) != S_OK) return false;
    into = units_of(path);
    return true;
}

}  // namespace
#endif

std::optional<UserFolders> current_user_folders()
{
#if defined(_WIN32)
    UserFolders folders;
    wchar_t temp[4096];
    const DWORD written = GetTempPathW(4096, temp);
    if (!known_folder(CSIDL_LOCAL_APPDATA, folders.cache_dir) || !known_folder(CSIDL_PROFILE, folders.home) ||
        written == 0 || written >= 4096) {
        return std::nullopt;
    }
    folders.temp = units_of(temp);
    return folders;
#else
    return std::nullopt;
#endif
}

std::u16string windows_full_path(const std::u16string &path)
{
#if defined(_WIN32)
    const wchar_t *wide = reinterpret_cast<const wchar_t *>(path.c_str());
    const DWORD needed = GetFullPathNameW(wide, 0, NULL, NULL);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(wide, needed, &full[0], NULL);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return units_of(full.c_str());
#else
    return path;
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
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) g_previous[i] = std::signal(SIGNALS[i], note_interrupt);
}

InterruptGuard::~InterruptGuard()
{
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) std::signal(SIGNALS[i], g_previous[i]);
}

void InterruptGuard::check()
{
    if (g_interrupted) throw PackError("interrupted; nothing was written");
}

}  // namespace zobrel
