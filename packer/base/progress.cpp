// progress.cpp: terminal progress bar and summary for zobrel-pack build.
#include "base/progress.h"

#include "base/host.h"

#include <cstdio>

namespace zobrel {

Progress::Progress(uint64_t total, bool quiet)
    : total_(total), active_(!quiet && stderr_is_terminal()), start_(std::chrono::steady_clock::now()),
      last_(start_)
{
}

void Progress::update(uint64_t done)
{
    if (!active_) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100) && done < total_) return;
    last_ = now;
    draw(done);
}

void Progress::draw(uint64_t done)
{
    const int width = 30;
    double frac = total_ ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
    if (frac > 1) frac = 1;
    int filled = static_cast<int>(frac * width);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = secs > 0 ? static_cast<double>(done) / secs : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    std::fprintf(stderr, "\r[%s] %3.0f%%  %s of %s  %s/s   ", bar.c_str(), frac * 100,
                 human_size(static_cast<double>(done)).c_str(),
                 human_size(static_cast<double>(total_)).c_str(), human_size(rate).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish()
{
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", 79, "");
    std::fflush(stderr);
    drawn_ = false;
}

std::string count_of(uint64_t count, const char *noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string human_size(double bytes)
{
    static const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

std::string summary_line(uint64_t files, uint64_t bytes_in, uint64_t bytes_out, double seconds)
{
    char buf[256];
    double ratio = bytes_in ? 100.0 * static_cast<double>(bytes_out) / static_cast<double>(bytes_in) : 0.0;
    std::snprintf(buf, sizeof buf, ", %llu bytes in, %llu bytes out (%.1f%%), %.1f s",
                  static_cast<unsigned long long>(bytes_in), static_cast<unsigned long long>(bytes_out),
                  ratio, seconds);
    return count_of(files, "file") + buf;
}

}  // namespace zobrel
