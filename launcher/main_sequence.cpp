// main_sequence.cpp: the launcher's steps, in the order they must run.
#include "launcher/main_sequence.h"

#include <windows.h>

#include "child/child_environment.h"
#include "child/cmdline.h"
#include "child/console_events.h"
#include "child/launch.h"
#include "common/system_library.h"
#include "launcher/console_progress.h"
#include "launcher/failure_report.h"
#include "launcher/windowed/message_box.h"
#include "launcher/windowed/progress_window.h"
#include "pathspec/run_values.h"
#include "pathspec/unpack_directory.h"
#include "payload/header.h"
#include "payload/index_check.h"
#include "payload/metadata_check.h"
#include "payload/name_check.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "payload/unpack_lock.h"
#include "tidy/build_marker.h"
#include "tidy/older_builds.h"

// The launcher's one launch.
static LaunchContext g_launch;

// A --progress build's display while the unpack writes: a line on the
// console launcher's console, a window of the windowed launcher's own. Gone
// before anything else is shown or started.
static void begin_unpack_progress(LaunchContext *context)
{
    if (context->shared.launcher_kind == LAUNCHER_WINDOWED) {
        progress_window_begin(context);
    } else {
        console_progress_begin(context);
    }
}

static void end_unpack_progress(LaunchContext *context)
{
    if (context->shared.launcher_kind == LAUNCHER_WINDOWED) {
        progress_window_end(context);
    } else {
        console_progress_end(context);
    }
}

// With the lock held: checked by metadata if the build asks for it and the
// last verified state still holds; else by content: with every indexed file
// in place the payload is never decoded, otherwise the unpack goes on from
// what the check found.
static StageResult bring_files_up_to_date(LaunchContext *context, const PayloadInput &input)
{
    const bool by_metadata = context->shared.build.warm_check == WARM_CHECK_METADATA;
    if (by_metadata && metadata_matches_state(&context->shared, &context->payload.index)) {
        main_binary_from_index(&context->shared, &context->payload.index);
        return stage_succeeded();
    }
    if (index_check_unpack_directory(&context->shared, &context->payload.index,
                                     index_check_threads(&context->shared))) {
        main_binary_from_index(&context->shared, &context->payload.index);
    } else {
        // About to write: no two names this system takes for one file.
        StageResult unpacked = check_names_apart(&context->shared, &context->payload, input);
        if (!failed(unpacked)) {
            unpacked = payload_open(&context->payload.reader, input);
        }
        if (!failed(unpacked)) {
            begin_unpack_progress(context);
            unpacked = unpack_payload(&context->shared, &context->payload);
            end_unpack_progress(context);
        }
        payload_close(&context->payload.reader);
        if (failed(unpacked)) {
            return unpacked;
        }
    }
    if (by_metadata) {
        record_metadata_state(&context->shared, &context->payload.index);
    }
    return stage_succeeded();
}

StageResult unpack_stages(LaunchContext *context)
{
    PayloadInput input;
    StageResult step = check_payload_header(context->shared.build.payload_blob,
                                            context->shared.build.payload_length, &input);
    if (failed(step)) {
        return step;
    }
    // Held from the first checksum to the last write: a launcher started
    // meanwhile never sees a half-written file. Taking it makes the folder
    // and resolves it, once, for every check of where a file is written.
    step = acquire_unpack_lock(&context->shared, &context->payload.directories);
    if (failed(step)) {
        return step;
    }
    // Taken under the lock, so that a tidy of another build's start, which
    // takes the lock before it looks at the marker, never finds this folder
    // unused while this start is at work in it or its program runs.
    hold_build_marker(&context->shared, &context->tidy);
    step = bring_files_up_to_date(context, input);
    // Given up before the child starts, so a long-running application keeps
    // nobody waiting; its handle stays as the folder's claim, against any
    // tidy of another start while this launcher and its program run.
    release_unpack_lock_keeping_claim(&context->shared.unpack_lock, &context->shared.unpack_claim);
    return step;
}

// Everything before the child, in order; the first failure ends it.
static StageResult prepare_child(LaunchContext *context)
{
    // Without its constants the image carries no usable payload either: the
    // same end as a payload header that is not there.
    if (!load_build_info(&context->shared.build)) {
        return stage_failed(FAILURE_HEADER);
    }

    prepare_run_environment();

    StageResult step = choose_unpack_directory(&context->shared);
    if (failed(step)) {
        return step;
    }
    // The child's command line and variables, expanded before anything is
    // unpacked: one that no longer fits stops the start with nothing written.
    step = build_child_command_line(&context->shared, &context->child);
    if (failed(step)) {
        return step;
    }
    step = expand_child_environment(&context->shared, &context->child.expansion);
    if (failed(step)) {
        return step;
    }
    // The windowed launcher has no console; it hears the session's end from
    // a window made just before the child starts (child/session_end.h).
    if (context->shared.launcher_kind == LAUNCHER_CONSOLE) {
        step = register_console_handler(&context->child.state);
        if (failed(step)) {
            return step;
        }
    }
    return unpack_stages(context);
}

int launcher_main(int argc, wchar_t **argv, wchar_t **envp, LauncherKind kind)
{
    (void)argc;
    (void)envp;
    // Before anything could load a DLL: none may come from the folder the
    // launcher was started from.
    restrict_dll_search_to_system_folder();
    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    context->shared.launcher_kind = kind;

    unsigned long exit_status = 0;
    StageResult result = prepare_child(context);
    if (!failed(result)) {
        // Older builds' folders go while the child starts and runs: the
        // start waits for none of it.
        start_tidy(&context->shared, &context->tidy);
        result = launch_child(&context->shared, &context->child, context->tidy.marker, &exit_status);
    }
    if (!failed(result)) {
        finish_tidy(&context->tidy);
        // The program has ended and its exit code is known: a build that
        // keeps no folder takes its own along, when nothing else needs it.
        remove_own_folder(&context->shared, &context->tidy, GetTickCount64() + TIDY_TIME_LIMIT_MS);
    }
    if (failed(result)) {
        if (kind == LAUNCHER_WINDOWED) {
            set_report_title(context);
            end_with_failure(result, report_in_message_box);
        }
        end_with_failure(result, report_on_console);
    }
    return static_cast<int>(exit_status);
}
