// unpack_bench.cpp: what a start costs over a realistic tree, warm (every
// file in place) and cold (an empty folder), measured in the same run
// against the least work any start must do; and its peak memory.
//
//   unpack_bench BLOB LIST DIR REPS [LAUNCHER LAUNCHER_DIR]
//
// Each repetition runs, each as a process (process_runner), in this order:
//   unpack probe, cold   unpack_run BLOB DIR after DIR is emptied: the
//                        launcher's unpack stages without a record index
//   unpack probe, warm   the same again: every file is found in place
//   baseline             floor_run LIST DIR --decode BLOB: the whole frame
//                        decoded and every file's CRC-32 through a mapping
//   empty process        bench_child started directly
// and with a packed LAUNCHER (whose application is bench_child, unpacking
// into LAUNCHER_DIR):
//   launcher, cold       LAUNCHER after LAUNCHER_DIR is emptied
//   launcher, warm       LAUNCHER again
//   check + child        floor_run LIST LAUNCHER_DIR --child: every file
//                        checked as the launcher checks it against its record
//                        index, then bench_child started
//   decode + crc32 + child
//                        floor_run ... --decode BLOB --child: what every warm
//                        start did before the launcher had a record index
// then one untimed launcher run each way, its private memory sampled from
// outside. Prints each series' seconds (work: timed inside the process;
// process: from CreateProcess to its end) and each ratio against the run
// beside it, min / median / max, and holds the README's targets: exit status
// 1 when one is missed.
//
// LIST lines are as zobrel-pack list prints them: size, stored CRC-32 in hex,
// name (relative to DIR, backslashes).
#include <windows.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "test_paths.h"

namespace {

// One run: its times and its key=value lines.
struct Outcome {
    double process = 0;
    std::map<std::string, std::string> values;
};

Outcome run(const std::wstring &command_line, bool sample_memory = false)
{
    RunOptions options;
    options.command_line = command_line;
    options.sample_memory = sample_memory;
    options.timeout_ms = INFINITE;
    RunResult result = run_process(options);
    if (result.exit_code != 0) {
        fprintf(stderr, "%ls exited with %lu:\n%s%s\n", command_line.c_str(), result.exit_code,
                result.standard_output.c_str(), result.standard_error.c_str());
        exit(3);
    }
    Outcome o;
    o.process = result.seconds;
    o.values = key_values(result.standard_output);
    if (sample_memory) o.values["sampled_private_peak"] = std::to_string(result.peak_private);
    return o;
}

struct Series {
    std::vector<double> process, work;
    Outcome last;
    void add(const Outcome &o)
    {
        process.push_back(o.process);
        auto it = o.values.find("seconds");
        if (it != o.values.end()) work.push_back(std::stod(it->second));
        last = o;
    }
};

double mib(const Outcome &o, const char *key)
{
    auto it = o.values.find(key);
    return it == o.values.end() ? -1 : std::stod(it->second) / 1048576.0;
}

std::wstring q(const std::wstring &argument)
{
    return quote_argument(argument);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 5 && argc != 7) {
        fputs("usage: unpack_bench BLOB LIST DIR REPS [LAUNCHER LAUNCHER_DIR]\n", stderr);
        return 100;
    }
    const std::wstring blob = argv[1], list = argv[2], dir = argv[3];
    int reps = _wtoi(argv[4]);
    if (reps < 1) reps = 1;
    const std::wstring launcher = argc == 7 ? argv[5] : L"", launcher_dir = argc == 7 ? argv[6] : L"";
    const std::wstring unpack_run = q(sibling_program(L"unpack_run.exe")) + L" " + q(blob) + L" " + q(dir);
    const std::wstring floor_run = q(sibling_program(L"floor_run.exe")) + L" " + q(list) + L" ";
    const std::wstring child = q(sibling_program(L"bench_child.exe"));

    Series cold, warm, base, empty, l_cold, l_warm, check_floor, decode_floor;
    for (int i = 0; i < reps; i++) {
        remove_tree(dir);
        cold.add(run(unpack_run));
        warm.add(run(unpack_run));
        base.add(run(floor_run + q(dir) + L" --decode " + q(blob) + L" --sample-memory"));
        empty.add(run(child));
        if (!launcher.empty()) {
            remove_tree(launcher_dir);
            l_cold.add(run(q(launcher)));
            l_warm.add(run(q(launcher)));
            check_floor.add(run(floor_run + q(launcher_dir) + L" --child"));
            decode_floor.add(run(floor_run + q(launcher_dir) + L" --decode " + q(blob) + L" --child"));
        }
        fprintf(stderr, "rep %d/%d done\n", i + 1, reps);
    }
    // One more launcher run each way, untimed, watched from outside for memory.
    Outcome l_cold_memory, l_warm_memory;
    if (!launcher.empty()) {
        remove_tree(launcher_dir);
        l_cold_memory = run(q(launcher), true);
        l_warm_memory = run(q(launcher), true);
    }
    if (warm.last.values["directories"] != "0") {
        fprintf(stderr, "the warm run wrote something: %s directories\n",
                warm.last.values["directories"].c_str());
        return 4;
    }

    Targets targets;
    printf("runs per case: %d; %s bytes decoded, %s files\n", reps, base.last.values["decoded"].c_str(),
           base.last.values["files"].c_str());
    struct Line {
        const char *label;
        std::vector<double> values;
        const char *unit;
    };
    std::vector<Line> lines = {
        {"time baseline (decode + crc32 via mappings), work", base.work, " s"},
        {"time baseline (decode + crc32 via mappings), process", base.process, " s"},
        {"time empty process", empty.process, " s"},
        {"time unpack probe, warm, work", warm.work, " s"},
        {"time unpack probe, warm, process", warm.process, " s"},
        {"time unpack probe, cold, work", cold.work, " s"},
        {"time unpack probe, cold, process", cold.process, " s"},
        {"ratio probe warm / baseline, process", ratios_of(warm.process, base.process), ""},
        {"ratio probe cold / baseline, work", ratios_of(cold.work, base.work), ""},
        {"ratio probe cold / baseline, process", ratios_of(cold.process, base.process), ""},
    };
    if (!launcher.empty()) {
        // The launcher also starts its child, one more process than the baseline.
        std::vector<double> less_child;
        double child_start = spread_of(empty.process).median;
        for (double t : l_warm.process) less_child.push_back(t - child_start);
        lines.insert(
            lines.end(),
            {
                {"time packed launcher, warm", l_warm.process, " s"},
                {"time packed launcher, cold", l_cold.process, " s"},
                {"time floor, check + child", check_floor.process, " s"},
                {"time floor, decode + mapped crc32 + child", decode_floor.process, " s"},
                {"ratio launcher warm less a child start / baseline", ratios_of(less_child, base.process),
                 ""},
                {"ratio launcher cold / baseline, process", ratios_of(l_cold.process, base.process), ""},
            });
    }
    for (const Line &line : lines) print_spread(line.label, spread_of(line.values), line.unit);

    // The targets, each against the run beside it.
    struct Held {
        const char *what;
        std::vector<double> ratios;
        double limit;
    };
    std::vector<Held> held = {{"probe warm / baseline, work", ratios_of(warm.work, base.work), 1.10}};
    if (!launcher.empty()) {
        held.insert(
            held.end(),
            {
                {"launcher warm / baseline, process", ratios_of(l_warm.process, base.process), 1.10},
                {"launcher warm / (check + child)", ratios_of(l_warm.process, check_floor.process), 1.10},
                {"launcher warm / (decode + crc32 + child)", ratios_of(l_warm.process, decode_floor.process),
                 0.35},
            });
    }
    for (const Held &h : held) {
        Spread ratio = spread_of(h.ratios);
        print_spread(std::string("ratio ") + h.what, ratio, "");
        targets.ratio_at_most(h.what, ratio, h.limit);
    }

    const double budget = 128 + 16;
    printf(
        "peak memory, MiB: private = anonymous memory sampled every 1 ms (by the process itself; for the\n");
    printf(
        "  launcher, from outside in one extra untimed run each way); working set = PeakWorkingSetSize,\n");
    printf("  file-backed pages (image, blob, mapped files) included\n");
    auto show = [&](const char *name, const Outcome &o) {
        double sampled = mib(o, "sampled_private_peak");
        char private_text[32] = "     n/a";
        if (sampled >= 0) snprintf(private_text, sizeof private_text, "%8.1f", sampled);
        printf("  %-22s private %s  working set %8.1f  (PeakPagefileUsage as reported %8.1f)\n", name,
               private_text, mib(o, "peak_working_set"), mib(o, "peak_pagefile"));
    };
    show("empty process", empty.last);
    show("baseline", base.last);
    show("unpack probe, warm", warm.last);
    show("unpack probe, cold", cold.last);
    if (!launcher.empty()) {
        // The launcher's own counters, read by its child once the decoder is
        // freed; the private peak comes from the untimed runs watched from outside.
        l_warm.last.values["sampled_private_peak"] = l_warm_memory.values["sampled_private_peak"];
        l_cold.last.values["sampled_private_peak"] = l_cold_memory.values["sampled_private_peak"];
        show("launcher, warm", l_warm.last);
        show("launcher, cold", l_cold.last);
        targets.value_at_most("launcher cold, peak private memory", mib(l_cold.last, "sampled_private_peak"),
                              budget, " MiB");
    }
    return targets.exit_status();
}
