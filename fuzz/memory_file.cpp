// memory_file.cpp: one anonymous in-memory file (memfd), reached through /proc/self/fd.
#include "memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz_target.h"

std::filesystem::path memory_file_with(const unsigned char *data, size_t size)
{
    static const int fd = memfd_create("zobrel-fuzz-input", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        FUZZ_CHECK(n > 0);
        written += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}
