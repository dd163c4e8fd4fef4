// bench_support.h: what the benchmark programs share: the files they read
// (a payload blob mapped as the launcher's image is, the listing of a packed
// executable), the plain work a start is measured against (a bare decode,
// checksums through mappings), and the statistics and targets they report.
// Running and timing processes and sampling memory is the test support's
// (process_runner.h, memory_sampler.h, clock.h). Nothing here calls the
// process runner, so the programs that are timed themselves stay small.
#ifndef ZOBREL_BENCH_BENCH_SUPPORT_H
#define ZOBREL_BENCH_BENCH_SUPPORT_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "clock.h"
#include "memory_sampler.h"
#include "process_runner.h"

struct Mapped {
    const unsigned char *data = nullptr;  // null when the file cannot be mapped
    unsigned long long size = 0;
};

// Maps the whole file read-only; the handles stay open for the process.
Mapped map_file(const std::wstring &path);

// One line of `zobrel-pack list`: size, stored CRC-32 in hex, name (ASCII,
// relative, backslashes).
struct Listed {
    std::wstring name;
    unsigned long long size;
    uint32_t stored;
};

// The lines of a listing file; lines that are not a listing line are skipped.
std::vector<Listed> read_listing(const std::wstring &path);

// This program's own full path.
std::wstring own_program_path();

// A program built next to this one.
std::wstring sibling_program(const std::wstring &name);

// Decodes the zstd frame of a payload blob (past its three-byte header)
// through one 128 KiB window and drops the output, making and freeing the
// decoder context in the call: the least any unpack does. Returns the bytes
// decoded, or 0 after a decode error. *sink takes the last byte of each
// window, so that the work cannot be left out.
unsigned long long bare_decode(const Mapped &blob, unsigned *sink);

// zlib's CRC-32 of the whole file through a read-only mapping: how existing
// files were checked before the launcher read them plainly with libdeflate.
// An empty file, which cannot be mapped, gives 0. False when it cannot be opened.
bool crc32_by_mapping(const std::wstring &path, uint32_t *crc);

// The "key=value" lines of a timed program's output (a CR before a line's
// end dropped); other lines are skipped.
std::map<std::string, std::string> key_values(const std::string &text);

// min, median and max of a series.
struct Spread {
    double min;
    double median;
    double max;
};
Spread spread_of(std::vector<double> values);

// a[i] / b[i] for each run both have.
std::vector<double> ratios_of(const std::vector<double> &a, const std::vector<double> &b);

// "LABEL  min X  median Y  max Z" with the unit after each figure.
void print_spread(const std::string &label, const Spread &spread, const char *unit);

// The targets a benchmark is held to. Each is checked as it is reported, on
// the median of its per-run ratios (or on a single figure); the program's
// exit status says whether all were met.
class Targets {
public:
    // Prints "TARGET what: median M <= limit: met" or "... MISSED".
    void ratio_at_most(const std::string &what, const Spread &ratio, double limit);
    // The same for one figure.
    void value_at_most(const std::string &what, double value, double limit, const char *unit);
    // 0 when every target was met, 1 otherwise.
    int exit_status() const { return missed_ == 0 ? 0 : 1; }

private:
    void report(const std::string &what, const char *figure, double value, double limit, const char *unit);
    int missed_ = 0;
};

#endif
