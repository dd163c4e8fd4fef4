// tidy_bench.cpp: where the tidy of older builds' folders costs a start
// least: run to its end before the child starts, or on a thread beside the
// child; each against a start of a build that keeps every folder.
//
//   tidy_bench LAUNCHER DIR REPS
//
// DIR's parent holds nothing else. Two cases; each repetition runs tidy_run
// (warm, its child exiting at once) in the three modes, in turns, starting
// with a different one each time:
//   steady    nothing to remove beside DIR: what almost every start meets
//   removal   an older build's folder to remove: before each run, untimed,
//             a copy of the whole unpacked tree beside DIR, marked as an
//             older build of the same product
// Prints, per case and mode, the time to the child's creation (inside
// tidy_run) and the whole process's time (from outside), and the ratios of
// "before" and "beside" to "none" and of "before" to "beside", each
// min / median / max over the repetitions. Holds no target: it answers a
// question.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "build_marker_layout.h"
#include "test_paths.h"

namespace {

const wchar_t *const MODES[] = {L"none", L"before", L"beside"};
const int MODE_COUNT = 3;

struct Times {
    std::vector<double> to_child, process;
};

// A copy of the tree at from as to, files and folders, with a marker of
// the same product naming the copy's own folder (a copy's marker names the
// folder it was copied from, and no tidy takes it for a build) and its time
// set back a day: an older start of another build.
bool copy_tree(const std::wstring &from, const std::wstring &to)
{
    std::error_code ec;
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive, ec);
    if (ec) return false;
    const std::wstring marker_path = to + L"\\.zobrel-build";
    const std::string bytes = read_file(marker_path);
    BuildMarkerView view;
    if (check_build_marker(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &view) !=
        BUILD_MARKER_WHOLE) {
        return false;
    }
    const std::wstring name = to.substr(to.rfind(L'\\') + 1);
    const std::u16string folder(name.begin(), name.end());
    unsigned char marked[BUILD_MARKER_CAPACITY];
    const size_t size =
        write_build_marker(view.identity, folder.data(), folder.size(), marked, sizeof marked);
    if (size == 0) return false;
    write_file(marker_path, std::string(reinterpret_cast<const char *>(marked), size));
    HANDLE marker = CreateFileW(marker_path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker == INVALID_HANDLE_VALUE) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 864000000000ull;
    FILETIME older = {t.LowPart, t.HighPart};
    BOOL set = SetFileTime(marker, NULL, NULL, &older);
    CloseHandle(marker);
    return set != FALSE;
}

// One run of tidy_run; ends the benchmark when it fails.
std::map<std::string, std::string> run_once(const std::wstring &command, Times *times)
{
    RunOptions options;
    options.command_line = command;
    options.timeout_ms = INFINITE;
    RunResult result = run_process(options);
    if (result.exit_code != 0) {
        fprintf(stderr, "%ls exited with %lu:\n%s%s\n", command.c_str(), result.exit_code,
                result.standard_output.c_str(), result.standard_error.c_str());
        exit(3);
    }
    std::map<std::string, std::string> values = key_values(result.standard_output);
    times->to_child.push_back(std::stod(values["to_child"]));
    times->process.push_back(result.seconds);
    return values;
}

void report(const char *label, const Times (&times)[MODE_COUNT])
{
    for (int m = 0; m < MODE_COUNT; m++) {
        std::string mode(MODES[m], MODES[m] + wcslen(MODES[m]));
        print_spread(std::string("time ") + label + ", " + mode + ", to the child",
                     spread_of(times[m].to_child), " s");
        print_spread(std::string("time ") + label + ", " + mode + ", process", spread_of(times[m].process),
                     " s");
    }
    struct Pair {
        int a, b;
    } pairs[] = {{1, 0}, {2, 0}, {1, 2}};
    for (const Pair &p : pairs) {
        std::string a(MODES[p.a], MODES[p.a] + wcslen(MODES[p.a]));
        std::string b(MODES[p.b], MODES[p.b] + wcslen(MODES[p.b]));
        print_spread(std::string("ratio ") + label + ", " + a + " / " + b + ", to the child",
                     spread_of(ratios_of(times[p.a].to_child, times[p.b].to_child)), "");
        print_spread(std::string("ratio ") + label + ", " + a + " / " + b + ", process",
                     spread_of(ratios_of(times[p.a].process, times[p.b].process)), "");
    }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        fputs("usage: tidy_bench LAUNCHER DIR REPS\n", stderr);
        return 100;
    }
    const std::wstring launcher = argv[1], dir = argv[2];
    int reps = _wtoi(argv[3]);
    if (reps < 1) reps = 1;
    const std::wstring older = dir + L"-older";
    const std::wstring run = quote_argument(sibling_program(L"tidy_run.exe")) + L" " +
                             quote_argument(launcher) + L" " + quote_argument(dir) + L" ";

    // A cold start makes the folder and its marker; what follows is warm.
    remove_tree(dir);
    remove_tree(older);
    Times unused;
    run_once(run + L"before", &unused);

    Times steady[MODE_COUNT], removal[MODE_COUNT];
    for (int r = 0; r < reps; r++) {
        for (int k = 0; k < MODE_COUNT; k++) {
            const int m = (k + r) % MODE_COUNT;
            run_once(run + MODES[m], &steady[m]);
        }
        for (int k = 0; k < MODE_COUNT; k++) {
            const int m = (k + r) % MODE_COUNT;
            if (!file_exists(older) && !copy_tree(dir, older)) {
                fprintf(stderr, "cannot copy %ls to %ls\n", dir.c_str(), older.c_str());
                return 3;
            }
            std::map<std::string, std::string> did = run_once(run + MODES[m], &removal[m]);
            if (m != 0 && (did["removed"] != "1" || file_exists(older))) {
                fprintf(stderr, "the %ls tidy did not remove the older folder (removed=%s, stopped=%s)\n",
                        MODES[m], did["removed"].c_str(), did["stopped"].c_str());
                return 4;
            }
        }
        fprintf(stderr, "rep %d/%d done\n", r + 1, reps);
    }
    printf("runs per case and mode: %d\n", reps);
    report("steady", steady);
    report("removal", removal);
    remove_tree(older);
    return 0;
}
