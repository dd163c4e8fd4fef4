// launch_shared.h: what one launch knows that several stages read: the
// process's facts, the build's constants, the unpack directory and the
// holds on it, the main program's path, and the room for a failed stage's
// path. Each stage keeps the rest of what it knows in its own state
// (payload/payload_state.h, tidy/tidy_state.h, child/child_state.h); the
// launcher's top floor composes the whole launch from these parts
// (launcher/launch_context.h) and hands each stage the parts it needs.
#ifndef ZOBREL_COMMON_LAUNCH_SHARED_H
#define ZOBREL_COMMON_LAUNCH_SHARED_H

#include <windows.h>
#include <stddef.h>

#include "capacities.h"
#include "common/build_info.h"
#include "common/final_path.h"

// Units of the launcher path buffer: a path of at most 4096 units and its NUL.
static const size_t LAUNCHER_PATH_CAPACITY = 4097;

// What the process is, read once by init_launch_shared.
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

struct LaunchShared {
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
    // A path that a failed stage names and that lives nowhere else in the
    // launch; a StageResult's detail may point here.
    wchar_t failed_path[WIDE_PATH_CAPACITY];
};

// Empties the shared part (no constants, empty paths, nothing held), then
// reads the process facts: the launcher's own path, once, and argv0 as
// given. Frees nothing a previous use allocated.
void init_launch_shared(LaunchShared *shared, const wchar_t *argv0);

#endif
