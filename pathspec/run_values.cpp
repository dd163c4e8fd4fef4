// run_values.cpp: run-unique values and their pinning in the environment.
#include "pathspec/run_values.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/platform.h"
#include "common/wide_buffer.h"
#include "pathspec/environment.h"
#include "pathspec/paths.h"

static const char PARENT_VARIABLE[] = "ZOBREL_ONEFILE_PARENT";
static const char RANDOM_VARIABLE[] = "ZOBREL_ONEFILE_RANDOM";
static const char START_VARIABLE[] = "ZOBREL_ONEFILE_START";
static const char TIME_US_VARIABLE[] = "ZOBREL_ONEFILE_TIME_US";

// Numbers are formatted narrow and widened by the one conversion rule.
static const size_t NUMBER_TEXT_CAPACITY = 128;

// The system's error of the first value that could not be pinned, or 0:
// the run's own record, which only this file writes.
static unsigned long g_pin_error;

static void pin(const char *variable, const wchar_t *value)
{
    if (!set_env_var(variable, value) && g_pin_error == 0) {
        g_pin_error = GetLastError();
    }
}

static const wchar_t TOKEN_ALPHABET[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

static wchar_t *duplicate_or_die(const wchar_t *text)
{
    wchar_t *copy = _wcsdup(text);
    if (copy == NULL) {
        terminate_abnormally();
    }
    return copy;
}

static void format_process_id(wchar_t wide[NUMBER_TEXT_CAPACITY])
{
    char narrow[NUMBER_TEXT_CAPACITY];
    snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(GetCurrentProcessId()));
    wide[0] = L'\0';
    append_narrow_string(wide, narrow, NUMBER_TEXT_CAPACITY);
}

static uint64_t system_time_100ns()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void prepare_run_environment()
{
    g_pin_error = 0;
    unset_env_var(START_VARIABLE);
    unset_env_var(TIME_US_VARIABLE);
    unset_env_var(RANDOM_VARIABLE);
    wchar_t pid[NUMBER_TEXT_CAPACITY];
    format_process_id(pid);
    pin(PARENT_VARIABLE, pid);
}

static wchar_t *resolve_process_id()
{
    wchar_t *pinned = get_env_var(PARENT_VARIABLE);
    if (pinned != NULL) {
        for (const wchar_t *p = pinned; *p != L'\0'; p++) {
            if (!iswdigit(*p)) {
                terminate_abnormally();
            }
        }
        return pinned;
    }
    wchar_t pid[NUMBER_TEXT_CAPACITY];
    format_process_id(pid);
    return duplicate_or_die(pid);
}

// Pins a freshly made value before it is used, and returns a copy of it.
static wchar_t *resolve_pinned(const char *variable, const wchar_t *made)
{
    pin(variable, made);
    return duplicate_or_die(made);
}

static wchar_t *format_pinned_number(const char *variable, const char *format, long long value)
{
    char narrow[NUMBER_TEXT_CAPACITY];
    snprintf(narrow, sizeof narrow, format, value);
    wchar_t wide[NUMBER_TEXT_CAPACITY];
    wide[0] = L'\0';
    append_narrow_string(wide, narrow, NUMBER_TEXT_CAPACITY);
    return resolve_pinned(variable, wide);
}

wchar_t *resolve_run_value(RunValueKey key)
{
    switch (key) {
    case RUN_VALUE_PID:
        return resolve_process_id();
    case RUN_VALUE_RANDOM: {
        wchar_t *pinned = get_env_var(RANDOM_VARIABLE);
        if (pinned != NULL) {
            return pinned;
        }
        wchar_t token[RANDOM_TOKEN_CAPACITY];
        generate_random_token(token);
        return resolve_pinned(RANDOM_VARIABLE, token);
    }
    case RUN_VALUE_TIME: {
        wchar_t *pinned = get_env_var(START_VARIABLE);
        if (pinned != NULL) {
            return pinned;
        }
        return format_pinned_number(START_VARIABLE, "%lld", static_cast<long long>(system_time_100ns()));
    }
    case RUN_VALUE_TIME_US: {
        wchar_t *pinned = get_env_var(TIME_US_VARIABLE);
        if (pinned != NULL) {
            return pinned;
        }
        // Its own clock reading: not derived from a pinned TIME.
        long long microseconds = static_cast<long long>((system_time_100ns() / 10) % 1000000);
        return format_pinned_number(TIME_US_VARIABLE, "%06lld", microseconds);
    }
    }
    terminate_abnormally();
}

unsigned long run_value_pin_error()
{
    return g_pin_error;
}

void random_token_from_seed(uint32_t seed, wchar_t token[RANDOM_TOKEN_CAPACITY])
{
    uint32_t s = seed != 0 ? seed : 1;
    unsigned char b[8];
    for (int i = 0; i < 8; i++) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b[i] = static_cast<unsigned char>(s & 0xFF);
    }
    int out = 0;
    // Three bytes give four characters; the last two bytes give three.
    for (int i = 0; i < 6; i += 3) {
        token[out++] = TOKEN_ALPHABET[b[i] >> 2];
        token[out++] = TOKEN_ALPHABET[((b[i] & 3) << 4) | (b[i + 1] >> 4)];
        token[out++] = TOKEN_ALPHABET[((b[i + 1] & 15) << 2) | (b[i + 2] >> 6)];
        token[out++] = TOKEN_ALPHABET[b[i + 2] & 63];
    }
    token[out++] = TOKEN_ALPHABET[b[6] >> 2];
    token[out++] = TOKEN_ALPHABET[((b[6] & 3) << 4) | (b[7] >> 4)];
    token[out++] = TOKEN_ALPHABET[(b[7] & 15) << 2];
    token[out] = L'\0';
}

void generate_random_token(wchar_t token[RANDOM_TOKEN_CAPACITY])
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t n = static_cast<uint64_t>(counter.QuadPart);
    uint64_t address = reinterpret_cast<uintptr_t>(&counter);
    uint32_t seed = static_cast<uint32_t>(GetCurrentProcessId()) ^ static_cast<uint32_t>(n >> 32) ^
                    static_cast<uint32_t>(n) ^ static_cast<uint32_t>(address >> 32) ^
                    static_cast<uint32_t>(address);
    random_token_from_seed(seed, token);
}
