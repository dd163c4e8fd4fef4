// tidy_run.cpp: one start of a build that keeps one build's folder, as the
// launcher makes it, with the tidy of older builds' folders run one way or
// another, timed from inside.
//
//   tidy_run LAUNCHER DIR MODE
//
// The build constants and payload of the packed LAUNCHER (read from its
// file, mapped), its unpack stages into DIR, then bench_child started and
// waited for, as a launcher starts its application; the build keeps one
// build's folder. MODE says where the tidy of DIR's parent runs:
//   none     the build keeps every folder: no marker, no tidy (the baseline)
//   before   the tidy runs to its end, then the child is started
//   beside   the tidy runs on its thread while the child starts and runs,
//            and is waited for (at most until its deadline) after it ends
// Prints key=value lines: to_child (seconds from the start of the stages to
// the child's creation), total (to the end of the tidy or of the child,
// whichever comes last), removed, in_use and stopped (what the tidy did).
#include <windows.h>
#include <stdio.h>

#include <string>

#include "bench_support.h"
#include "launcher/launch_context.h"
#include "common/wide_buffer.h"
#include "launcher/failure_report.h"
#include "launcher/main_sequence.h"
#include "build_constants.h"
#include "pe_sections.h"
#include "tidy/older_builds.h"

// The launcher file's build constants, as its own start reads them.
static bool read_launcher(const Mapped &exe, BuildInfo *build)
{
    PeFileSection payload, constants;
    return find_pe_section(exe.data, exe.size, PAYLOAD_SECTION_NAME, &payload) &&
           pe_section_contents_fit(payload, exe.size) &&
           find_pe_section(exe.data, exe.size, CONSTANTS_SECTION_NAME, &constants) &&
           pe_section_contents_fit(constants, exe.size) &&
           read_build_info(exe.data + constants.header.raw_offset, constants.header.virtual_size,
                           exe.data + payload.header.raw_offset, payload.header.virtual_size, build);
}

static LaunchContext g_launch;

int wmain(int argc, wchar_t **argv)
{
    const std::wstring mode = argc == 4 ? argv[3] : L"";
    if (mode != L"none" && mode != L"before" && mode != L"beside") {
        fputs("usage: tidy_run LAUNCHER DIR none|before|beside\n", stderr);
        return 100;
    }
    Mapped exe = map_file(argv[1]);
    if (exe.data == nullptr) return 101;
    const double start = now_seconds();
    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    if (!read_launcher(exe, &context->shared.build)) return 102;
    context->shared.build.keep_builds = mode == L"none" ? 0 : 1;
    copy_wide(context->shared.unpack_directory, WIDE_PATH_CAPACITY, argv[2]);
    StageResult result = unpack_stages(context);
    if (failed(result)) end_with_failure(result, report_on_console);

    TidyOutcome outcome = {};
    if (mode == L"before")
        outcome = tidy_older_builds(&context->shared, GetTickCount64() + TIDY_TIME_LIMIT_MS);
    if (mode == L"beside") start_tidy(&context->shared, &context->tidy);
    std::wstring command = L"\"" + sibling_program(L"bench_child.exe") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 104;
    const double to_child = now_seconds() - start;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (mode == L"beside") {
        finish_tidy(&context->tidy);
        outcome = context->tidy.outcome;
    }
    printf("to_child=%.6f\ntotal=%.6f\n", to_child, now_seconds() - start);
    printf("removed=%u\nin_use=%u\nstopped=%u\n", outcome.removed, outcome.in_use, outcome.stopped);
    return 0;
}
