// launcher_shim.h: the launcher's payload reader built for the host. Where
// the launcher would print its message and exit (common/fatal.h), this
// build throws LauncherStopped with the message instead, so that a fuzz
// target can watch the reader refuse an input and go on with the next.
#ifndef ZOBREL_FUZZ_LAUNCHER_SHIM_H
#define ZOBREL_FUZZ_LAUNCHER_SHIM_H

struct LauncherStopped {
    const char *message;
};

#endif
