// launch_context.h: everything one launch knows and keeps, in one record that
// its owner holds (the launcher: static storage) and passes to every stage.
// Stages write only their own parts, named below; nothing else of the launch
// lives in variables that several files share.
//
// Threads: the main thread owns the context. The child part is shared with
// the console event handler (child/child_handle.h says how); the index
// check's helper threads write only their own records' states while the
// main thread waits for them.
#ifndef ZOBREL_COMMON_LAUNCH_CONTEXT_H
#define ZOBREL_COMMON_LAUNCH_CONTEXT_H

#include <windows.h>
#include <stddef.h>

#include "argument_quoting.h"
#include "capacities.h"
#include "common/build_info.h"
#include "common/final_path.h"
#include "common/payload_reader_state.h"

// Units of the launcher path buffer: a path of at most 4096 units and its NUL.
static const size_t LAUNCHER_PATH_CAPACITY = 4097;

// Units of the child's command line: at most 32,767 units of text and a NUL.
static const size_t COMMAND_LINE_CAPACITY = COMMAND_LINE_LIMIT + 1;

// Directories the memo can remember; later ones are created but not remembered.
static const int CREATED_DIRECTORIES_CAPACITY = 1024;

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

// Directories known to exist, as heap copies, matched by exact code units;
// written by payload/directories.cpp. Entry 0 is the user's home folder,
// added at the memo's first use (seeded).
struct DirectoryMemo {
    wchar_t *entries[CREATED_DIRECTORIES_CAPACITY];
    int count;
    bool seeded;
};

// What the index check learnt; written by payload/index_check.cpp. Heap
// arrays made once per launch, one entry per indexed record.
struct IndexCheckState {
    // Where each record starts in the index.
    const unsigned char **records;
    // A RecordState per record (payload/index_check.h).
    unsigned char *states;
    // The arrays could not be had: the index is not used at all.
    bool bookkeeping_failed;
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

// What the launcher keeps around its child; written by child/child_job.cpp
// (the job, both launchers) and child/session_end.cpp (the rest, the
// windowed launcher), on the main thread.
struct SessionWatch {
    // The hidden top-level window that hears the session's end, or null.
    HWND window;
    // The job that ends the child when the launcher ends, or null.
    HANDLE job;
    // The child's process id, once it is created.
    DWORD child_id;
};

// What the main thread and the console event handler share about the child;
// written through child/child_handle.h only.
struct ChildState {
    LONG volatile launch_state;
    HANDLE volatile process;
    LONG volatile uses;
    LONG volatile exit_status;
};

// What one tidy of other builds' unpack folders did (tidy/older_builds.h).
struct TidyOutcome {
    // Folders of other builds removed whole.
    unsigned removed;
    // Folders skipped because their program runs or a launcher unpacks them.
    unsigned in_use;
    // Folders whose removal stopped (a file in use, access denied, no time
    // left): left under a trash name for a later tidy.
    unsigned stopped;
    // Folders whose removal met what no later tidy would get past (a link,
    // a path too long): left for good under a name no tidy looks into again.
    unsigned left;
    // Trash of earlier removals found and cleared.
    unsigned leftovers_cleared;
    // The time limit ended the tidy before it was done.
    bool out_of_time;
};

// The tidy's part of a launch; written by tidy/ only.
struct TidyState {
    // The unpack directory's build marker, held open from under the unpack
    // lock until the launcher ends (tidy/build_marker.h); null when not held.
    HANDLE marker;
    // The tidy's thread while it runs beside the child; else null.
    HANDLE thread;
    // GetTickCount64 time by which the tidy stops, wherever it is.
    ULONGLONG deadline;
    // The thread was still at work when the launcher stopped waiting for it.
    bool left_running;
    TidyOutcome outcome;
};

// What the child gets besides the launcher's own command line and
// environment, made before the unpack (child/cmdline.h,
// child/child_environment.h): work room for one fixed argument or variable
// value being expanded, and each variable's value once expanded.
struct ChildCommand {
    wchar_t expanded[COMMAND_LINE_CAPACITY];
    wchar_t key_value[COMMAND_LINE_CAPACITY];
    // The build's variables' values, expanded, in the build's order: one
    // heap block of NUL-terminated texts, one after another; null when the
    // build has none.
    wchar_t *environment_values;
};

struct LaunchContext;

// How far the unpack has gone: written by payload/unpack.cpp as it goes
// through the stream (files and bytes passed, written or not), read by
// whatever shows the progress, which it calls back at every chunk. The
// counters are interlocked, so that a thread of the progress display may
// read them; null callback: nothing is shown.
struct UnpackProgress {
    LONG64 volatile bytes_done;
    LONG volatile files_done;
    void (*advanced)(LaunchContext *context);
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
    ChildCommand command;
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
