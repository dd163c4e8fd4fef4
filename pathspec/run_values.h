// run_values.h: values that identify one launcher run (process id, random
// token, time), each made at most once and pinned in an environment variable
// so later uses and the child see the same text.
#ifndef ZOBREL_PATHSPEC_RUN_VALUES_H
#define ZOBREL_PATHSPEC_RUN_VALUES_H

#include <stdint.h>

enum RunValueKey {
    RUN_VALUE_PID,      // ZOBREL_ONEFILE_PARENT
    RUN_VALUE_RANDOM,   // ZOBREL_ONEFILE_RANDOM
    RUN_VALUE_TIME_US,  // ZOBREL_ONEFILE_TIME_US
    RUN_VALUE_TIME      // ZOBREL_ONEFILE_START
};

// Units of a random token: 11 characters and a NUL.
static const int RANDOM_TOKEN_CAPACITY = 12;

// Start-up: removes ZOBREL_ONEFILE_START, ZOBREL_ONEFILE_TIME_US and
// ZOBREL_ONEFILE_RANDOM inherited from a parent launcher, then sets
// ZOBREL_ONEFILE_PARENT to this process's id.
void prepare_run_environment();

// The value for the key, as a new heap string the caller frees with free().
// A pinned value is used as it is; otherwise RANDOM, TIME_US and TIME are
// made and pinned now, and PID is the current process id (not pinned here).
// A pinned process id that is not all digits ends the process abnormally,
// as does a failed allocation.
wchar_t *resolve_run_value(RunValueKey key);

// The system's error of the first run value that could not be pinned in
// the environment whole (set_env_var), which the child would then not see
// as this run used it; 0 when every one was.
unsigned long run_value_pin_error();

// A fresh 11-character base64url token seeded from the process id, the
// performance counter and a stack address.
void generate_random_token(wchar_t token[RANDOM_TOKEN_CAPACITY]);

// The token made from one 32-bit seed: eight xorshift32 (13, 17, 5) steps,
// the low byte of each, encoded as unpadded base64url. A seed of 0 counts as 1.
void random_token_from_seed(uint32_t seed, wchar_t token[RANDOM_TOKEN_CAPACITY]);

#endif
