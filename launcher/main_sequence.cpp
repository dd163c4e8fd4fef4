// main_sequence.cpp: the launcher's steps, in the order they must run.
#include "launcher/main_sequence.h"

#include <windows.h>

#include "child/console_events.h"
#include "child/launch.h"
#include "common/build_info.h"
#include "common/fatal.h"
#include "common/state.h"
#include "pathspec/expand.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"
#include "payload/header.h"
#include "payload/index_check.h"
#include "payload/metadata_check.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "payload/unpack_lock.h"

int launcher_main(int argc, wchar_t **argv, wchar_t **envp)
{
    (void)argc;
    (void)envp;

    // Without its constants the image carries no usable payload either: the
    // same end as a payload header that is not there.
    if (!load_build_info()) {
        fatal_header_error();
    }

    // An empty string (not null) takes the current directory out of the DLL
    // search order; a failure leaves the default order, which is no reason to stop.
    SetDllDirectoryW(L"");

    prepare_run_environment();

    // The expansion's result is tested only after the path has been made
    // absolute: an empty partial result ends the run inside make_full_path.
    bool expanded = expand_path_spec(g_unpack_directory, g_build_info.target_spec, WIDE_PATH_CAPACITY);
    make_full_path(g_unpack_directory, WIDE_PATH_CAPACITY);

    g_payload_cursor.position = g_build_info.payload_blob;
    g_payload_cursor.length = g_build_info.payload_length;

    if (!expanded) {
        fatal_expand_error(g_build_info.target_spec);
    }

    if (!SetConsoleCtrlHandler(console_event_handler, TRUE)) {
        fatal_error("Error, failed to register signal handler.");
    }

    check_payload_header();
    // Held from the first checksum to the last write: a launcher started
    // meanwhile never sees a half-written file. Given up before the child
    // starts, so a long-running application keeps nobody waiting.
    acquire_unpack_lock(g_unpack_directory);
    // Checked by metadata if the build asks for it and the last verified
    // state still holds; else by content: with every indexed file in place
    // the payload is never decoded, otherwise the unpack goes on from what
    // the check found.
    const bool by_metadata = g_build_info.warm_check == WARM_CHECK_METADATA;
    if (!by_metadata || !metadata_matches_state()) {
        if (!index_check_unpack_directory(index_check_threads())) {
            payload_open();
            unpack_payload();
            payload_close();
        }
        if (by_metadata) {
            record_metadata_state();
        }
    }
    release_unpack_lock();

    return static_cast<int>(launch_child(argv[0]));
}
