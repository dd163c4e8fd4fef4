// main_sequence.h: the launcher's one straight sequence from start-up to exit
// status, and its unpack stages, which the harnesses (test probes,
// benchmarks) run over a context of their own.
#ifndef ZOBREL_LAUNCHER_MAIN_SEQUENCE_H
#define ZOBREL_LAUNCHER_MAIN_SEQUENCE_H

#include "launcher/launch_context.h"
#include "common/stage_result.h"

// Brings the context's unpack directory up to date with its payload blob:
// checks the payload header, takes the directory's lock (making the
// directory and resolving its unpack root), holds its build marker when the
// build keeps a number of builds, checks the files already there (by
// metadata when the build asks for it and the recorded state still holds,
// else by content against the record index) and, unless every file is in
// place, decodes the payload and writes what is missing or differs. The
// reader is closed and the lock given up before it returns, whatever
// happened; the lock's handle stays open as the context's unpack claim. Success: the context's main binary
// path is the program to start. Failures: those of check_payload_header, acquire_unpack_lock, payload_open
// and unpack_payload.
StageResult unpack_stages(LaunchContext *context);

// Runs the whole launch with the launcher's own context: build constants,
// run environment, unpack directory, the child's command line and
// variables, console handler (the console launcher only), unpack_stages,
// then the child, with the tidy of older builds' folders beside it. Returns
// the child's exit code (all 32 bits; 1 when it cannot be read). A failed step ends the process through
// end_with_failure: its message on the console, or for the windowed launcher in a message box
// (launcher/windowed/message_box.h); reads only argv[0].
int launcher_main(int argc, wchar_t **argv, wchar_t **envp, LauncherKind kind);

#endif
