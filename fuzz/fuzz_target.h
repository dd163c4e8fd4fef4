// fuzz_target.h: what every fuzz target shares: the entry point that
// libFuzzer and the regression driver call with one input, and the check
// that turns a broken invariant into a finding (a crash libFuzzer saves).
#ifndef ZOBREL_FUZZ_FUZZ_TARGET_H
#define ZOBREL_FUZZ_FUZZ_TARGET_H

#include <stddef.h>
#include <stdint.h>

// Runs the target's reader on one input. Returns 0; a finding aborts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Says which invariant broke, on the standard error the process started
// with (the fuzzers run with the targets' own output closed), and aborts.
[[noreturn]] void fuzz_invariant_broken(const char *file, int line, const char *condition);

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fuzz_invariant_broken(__FILE__, __LINE__, #cond);                                                \
        }                                                                                                    \
    } while (0)

#endif
