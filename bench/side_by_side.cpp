// side_by_side.cpp: times whole command lines against each other in one
// process, taking turns, so that every one sees the same load.
//
//   side_by_side REPS [--target NAME MAX ...] [--clean DIR] NAME COMMAND_LINE [[--clean DIR] NAME
//   COMMAND_LINE ...]
//
// Each repetition runs every command once, starting at a different one each
// time, and waits for it (process_runner): the time from CreateProcess to
// its end, and its peak private memory, sampled every millisecond. "--clean
// DIR" before a command removes that folder tree, untimed, before each of
// its runs (a cold start). A command that fails to start or exits non-zero
// ends the benchmark (exit 2). Prints, per command, min / median / max
// seconds and the peak memory, and the first command's time divided by each
// other's in the same repetition: min / median / max. "--target NAME MAX"
// holds the median of that ratio against command NAME to at most MAX: exit
// status 1 when a target is missed.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "test_paths.h"

namespace {

struct Command {
    std::wstring name, line, clean;
};

struct Target {
    std::wstring name;
    double limit;
};

std::string narrow_ascii(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    int reps = argc > 1 ? _wtoi(argv[1]) : 0;
    if (reps < 1) reps = 1;
    std::vector<Command> commands;
    std::vector<Target> targets;
    std::wstring clean;
    bool usage = false;
    for (int i = 2; i < argc && !usage; i++) {
        std::wstring arg = argv[i];
        if (arg == L"--clean" && i + 1 < argc) {
            clean = argv[++i];
        } else if (arg == L"--target" && i + 2 < argc) {
            targets.push_back({argv[i + 1], _wtof(argv[i + 2])});
            i += 2;
        } else if (i + 1 < argc) {
            commands.push_back({arg, argv[++i], clean});
            clean.clear();
        } else {
            usage = true;
        }
    }
    if (usage || commands.empty()) {
        fprintf(stderr,
                "usage: side_by_side REPS [--target NAME MAX ...] [--clean DIR] NAME COMMAND_LINE [...]\n");
        return 2;
    }
    const size_t n = commands.size();
    for (const Target &t : targets) {
        bool known = false;
        for (size_t i = 1; i < n; i++) known = known || t.name == commands[i].name;
        if (!known) {
            fprintf(stderr, "side_by_side: --target %ls names no command after the first\n", t.name.c_str());
            return 2;
        }
    }
    std::vector<std::vector<double>> seconds(n);
    std::vector<unsigned long long> peaks(n);
    for (int r = 0; r < reps; r++) {
        for (size_t k = 0; k < n; k++) {
            const size_t i = (k + static_cast<size_t>(r)) % n;
            const Command &command = commands[i];
            if (!command.clean.empty()) remove_tree(command.clean);
            RunOptions options;
            options.command_line = command.line;
            options.sample_memory = true;
            options.timeout_ms = INFINITE;
            RunResult run = run_process(options);
            if (run.exit_code != 0) {
                fprintf(stderr, "side_by_side: %ls exited with 0x%08lx\n%s", command.line.c_str(),
                        run.exit_code, run.standard_error.c_str());
                return 2;
            }
            seconds[i].push_back(run.seconds);
            peaks[i] = std::max(peaks[i], run.peak_private);
        }
    }
    for (size_t i = 0; i < n; i++) {
        print_spread("time " + narrow_ascii(commands[i].name), spread_of(seconds[i]), " s");
        printf("peak private memory %ls  %.1f MiB\n", commands[i].name.c_str(), peaks[i] / 1048576.0);
    }
    Targets held;
    for (size_t i = 1; i < n; i++) {
        std::string label = narrow_ascii(commands[0].name) + " / " + narrow_ascii(commands[i].name);
        Spread ratio = spread_of(ratios_of(seconds[0], seconds[i]));
        print_spread("ratio " + label, ratio, "");
        for (const Target &t : targets) {
            if (t.name == commands[i].name) held.ratio_at_most(label, ratio, t.limit);
        }
    }
    return held.exit_status();
}
