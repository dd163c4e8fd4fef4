// environment.cpp: the launcher's own environment, by narrow variable name.
#include "pathspec/environment.h"

#include <windows.h>
#include <wchar.h>

#include "pathspec/paths.h"

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

void set_env_var(const char *name, const wchar_t *value)
{
    wchar_t wide_name[ENV_NAME_CAPACITY];
    widen_name(name, wide_name);
    SetEnvironmentVariableW(wide_name, value);
}

void unset_env_var(const char *name)
{
    wchar_t wide_name[ENV_NAME_CAPACITY];
    widen_name(name, wide_name);
    SetEnvironmentVariableW(wide_name, NULL);
}
