// main_sequence.h: the launcher's one straight sequence from start-up to exit status.
#ifndef ZOBREL_LAUNCHER_MAIN_SEQUENCE_H
#define ZOBREL_LAUNCHER_MAIN_SEQUENCE_H

// Runs the whole launch: unpack directory, payload check, unpacking, child.
// Returns the child's exit code (all 32 bits; 1 when it cannot be read).
// Reads only argv[0]; every failure ends the process inside the step that meets it.
int launcher_main(int argc, wchar_t **argv, wchar_t **envp);

#endif
