// host.h: the few things the packer needs from its host system that Linux
// and Windows spell differently. Everything else is standard C++.
#ifndef ZOBREL_PACKER_BASE_HOST_H
#define ZOBREL_PACKER_BASE_HOST_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zobrel {

// True when standard error is a terminal (so a progress bar can be drawn).
bool stderr_is_terminal();

// This process's id.
unsigned long current_process_id();

// The program's arguments after its name, as UTF-8 (on Windows taken from
// the wide command line, so any file name survives).
std::vector<std::string> utf8_arguments(int argc, char **argv);

// Creates the file empty (replacing one of that name), so that what is then
// written into it is a program: on POSIX hosts with permission 0777 less the
// umask, as a linker makes its output; on Windows an ordinary file. Throws
// PackError when it cannot be created.
void create_executable_file(const std::filesystem::path &path);

// The current user's folders that target specifications name, as Windows
// reports them to a launcher (local application data, profile, temporary
// folder; trailing backslashes as reported). None on other hosts, or when
// Windows gives one of them not.
struct UserFolders {
    std::u16string cache_dir, home, temp;
};
std::optional<UserFolders> current_user_folders();

// The path made absolute as Windows makes it for a launcher
// (GetFullPathNameW); elsewhere, or when that fails, the path as it is.
std::u16string windows_full_path(const std::u16string &path);

// Lets a console show the UTF-8 this program writes (Windows); nothing elsewhere.
void use_utf8_console();

// While one lives, Ctrl+C and termination requests (SIGINT, SIGTERM, and
// SIGHUP or SIGBREAK where they exist) are only noted, so that the work can
// stop at its next check and clean up after itself.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;
    // Throws PackError when a request has been noted.
    static void check();
};

}  // namespace zobrel

#endif
