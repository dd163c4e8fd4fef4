// environment.cpp: the launcher's own environment, by narrow variable name.
#include "pathspec/environment.h"

#include <windows.h>
#include <wchar.h>

#include "pathspec/paths.h"
#include "environment_name.h"

static void widen_name(const char *name, wchar_t *wide_name)
{
    wide_name[0] = L'\0';
    append_narrow_string(wide_name, name, ENV_NAME_CAPACITY);
}

wchar_t *get_env_var(const char *name)
{
    wchar_t wide_name[ENV_NAME_CAPACITY];
    widen_name(name, wide_name);
    wchar_t value[ENV_VALUE_CAPACITY];
    DWORD length = GetEnvironmentVariableW(wide_name, value, ENV_VALUE_CAPACITY);
    // 0: unset, empty or failed; not below the capacity: the value did not fit.
    if (length == 0 || length >= ENV_VALUE_CAPACITY) {
        return NULL;
    }
    return _wcsdup(value);
}

bool set_variable_whole(const wchar_t *name, const wchar_t *value)
{
    // Measured before the call: past the limit, Wine's answer is no answer.
    if (value != NULL && wcsnlen(value, ENVIRONMENT_VALUE_LIMIT + 1) > ENVIRONMENT_VALUE_LIMIT) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return SetEnvironmentVariableW(name, value) != FALSE;
}

bool set_env_var(const char *name, const wchar_t *value)
{
    wchar_t wide_name[ENV_NAME_CAPACITY];
    widen_name(name, wide_name);
    return set_variable_whole(wide_name, value);
}

void unset_env_var(const char *name)
{
    wchar_t wide_name[ENV_NAME_CAPACITY];
    widen_name(name, wide_name);
    SetEnvironmentVariableW(wide_name, NULL);
}
