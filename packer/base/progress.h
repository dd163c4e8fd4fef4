// progress.h: the compression progress bar and the closing summary line.
#ifndef ZOBREL_PACKER_BASE_PROGRESS_H
#define ZOBREL_PACKER_BASE_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace zobrel {

// Draws "bytes done of total, rate" on stderr, at most ten times a second,
// and only when stderr is a terminal and not quiet; otherwise draws nothing.
class Progress {
public:
    Progress(uint64_t total, bool quiet);
    ~Progress() { finish(); }  // an error message must not land on the bar's line
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    void update(uint64_t done);
    // Clears the bar so that the next line starts clean.
    void finish();

private:
    void draw(uint64_t done);
    uint64_t total_;
    bool active_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

// "1 file", "2 files": the count and the noun, plural unless the count is 1.
std::string count_of(uint64_t count, const char *noun);

// "1.5 MiB" style sizes for people.
std::string human_size(double bytes);

// One line: files, bytes in, bytes out, their ratio and the time taken.
std::string summary_line(uint64_t files, uint64_t bytes_in, uint64_t bytes_out, double seconds);

}  // namespace zobrel

#endif
