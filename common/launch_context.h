// launch_context.h: everything one launch knows and keeps, in one record that
// its owner holds (the launcher: static storage) and passes to every stage.
// Each stage declares its own parts in its own header (payload/, tidy/,
// child/) and writes only those; what is declared here is what several
// stages read. Nothing else of the launch lives in variables that several
// files share.
//
// Threads: the main thread owns the context. The child part is shared with
// the console event handler (child/child_handle.h says how); the index
// check's helper threads write only their own records' states while the
// main thread waits for them.
#ifndef ZOBREL_COMMON_LAUNCH_CONTEXT_H
#define ZOBREL_COMMON_LAUNCH_CONTEXT_H

#include <windows.h>
#include <stddef.h>

#include "capacities.h"
#include "child/child_state.h"
#include "common/build_info.h"
#include "common/final_path.h"
#include "payload/payload_state.h"
#include "payload/reader_state.h"
#include "tidy/tidy_state.h"

// Units of the launcher path buffer: a path of at most 4096 units and its NUL.
static const size_t LAUNCHER_PATH_CAPACITY = 4097;

// What the process is, read once by init_launch_context.
struct ProcessFacts {
    // The launcher's own full path (GetModuleFileNameW for its own module),
    // NUL-terminated; empty, with own_path_known false, when the platform
    // gives no path or one that does not fit: a cut path names another file.
    wchar_t own_path[LAUNCHER_PATH_CAPACITY];
    bool own_path_known;
    // The program name exactly as typed (the runtime's argv[0]); not copied.
    const wchar_t *argv0;
};

// Which prebuilt launcher runs: fixed when it was linked, given by its entry.
enum LauncherKind {
    // Console subsystem: shares its console with the child, passes console
    // events on, reports failures on the console.
    LAUNCHER_CONSOLE,
    // Windows (GUI) subsystem: never has a console; reports failures in a
    // message box; hears the session's end through a hidden window.
    LAUNCHER_WINDOWED,
};

struct LaunchContext {
    ProcessFacts process;
    // Set by the launcher's entry; the harnesses' launches are console ones.
    LauncherKind launcher_kind;
    // The constants the image was built with (common/build_info.h).
    BuildInfo build;
    // The unpack directory: the expanded target specification, then its
    // absolute form; the start of every target path.
    wchar_t unpack_directory[WIDE_PATH_CAPACITY];
    // The target path of the archive's first record, the program the
    // launcher starts; empty until a stage has read that record.
    wchar_t main_binary_path[WIDE_PATH_CAPACITY];
    // The unpack directory's lock while it is held, else null
    // (payload/unpack_lock.h).
    HANDLE unpack_lock;
    // The same lock's handle once it is given up, kept open (not owned)
    // until the launcher ends, and inherited by the child: while it is open
    // no tidy of another start takes the folder for unused
    // (payload/unpack_lock.h). Null before the lock was taken.
    HANDLE unpack_claim;
    // The unpack directory as the file system resolves it, found when its
    // lock is taken (payload/unpack_lock.h): every file the launcher writes
    // in it must resolve to a path below it (common/final_path.h).
    FinalPath unpack_root;
    DirectoryMemo directories;
    PayloadReader reader;
    UnpackProgress progress;
    IndexCheckState index;
    ChildState child;
    TidyState tidy;
    SessionWatch session;
    // The child's command line, built by child/cmdline.cpp.
    wchar_t child_command_line[COMMAND_LINE_CAPACITY];
    ChildExpansion expansion;
    // A path that a failed stage names and that lives nowhere else in the
    // context; a StageResult's detail may point here.
    wchar_t failed_path[WIDE_PATH_CAPACITY];
    // For tests: when set, the child launch calls it on the main thread after
    // the child is created and before its handle is published, so that a
    // test can hold the launch there. Null in the launcher.
    void (*launch_window_hook)(LaunchContext *context);
};

// Empties the whole context (every part as before its stage ran: no
// constants, empty paths, nothing held), then reads the process facts: the
// launcher's own path, once, and argv0 as given. Frees nothing a previous
// use of the context allocated.
void init_launch_context(LaunchContext *context, const wchar_t *argv0);

#endif
