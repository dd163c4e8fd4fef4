// unpack_run.cpp: one run of the launcher's unpack stages over a payload
// blob, timed from inside, with its peak private memory.
//
//   unpack_run BLOB DIR
//
// BLOB is read through a read-only mapping, as the launcher reads its image;
// the stages are unpack_stages, which the launcher runs: header, lock,
// checks, decode and write into DIR. Prints key=value lines: seconds (the
// stages alone, process start-up excluded), sampled_private_peak,
// directories (the directory memo's entries: 0 when nothing was written),
// peak_pagefile and peak_working_set. A failed stage ends the run as it ends
// the launcher.
#include <windows.h>
#include <stdio.h>

#include "bench_support.h"
#include "launcher/launch_context.h"
#include "common/wide_buffer.h"
#include "launcher/failure_report.h"
#include "launcher/main_sequence.h"

static LaunchContext g_launch;

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fputs("usage: unpack_run BLOB DIR\n", stderr);
        return 100;
    }
    Mapped blob = map_file(argv[1]);
    if (blob.data == nullptr) return 101;
    MemorySampler sampler(GetCurrentProcess());
    double start = now_seconds();
    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    context->shared.build.payload_blob = blob.data;
    context->shared.build.payload_length = blob.size;
    copy_wide(context->shared.unpack_directory, WIDE_PATH_CAPACITY, argv[2]);
    StageResult result = unpack_stages(context);
    if (failed(result)) end_with_failure(result, report_on_console);
    printf("seconds=%.6f\n", now_seconds() - start);
    printf("sampled_private_peak=%llu\n", sampler.stop());
    printf("directories=%d\n", context->payload.directories.count);
    print_memory_counters("", GetCurrentProcess());
    return 0;
}
