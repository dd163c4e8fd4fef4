// fuzz_check.cpp: reports a broken invariant where it will be seen, then aborts.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "fuzz_target.h"

// A copy of the standard error made before libFuzzer closes the targets'
// (-close_fd_mask), at static initialisation.
static const int g_report_fd = dup(STDERR_FILENO);

void fuzz_invariant_broken(const char *file, int line, const char *condition)
{
    dprintf(g_report_fd >= 0 ? g_report_fd : STDERR_FILENO, "%s:%d: invariant broken: %s\n", file, line,
            condition);
    abort();
}
