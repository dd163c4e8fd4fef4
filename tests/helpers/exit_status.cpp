// exit_status.cpp: runs the command line that follows its own first
// argument, waits for it, and prints "exit=0x%08lx" with the program's full
// 32-bit exit code, for shell tests (a Unix exit status keeps only 8 bits).
// Ends with 0 when it could read that code, 1 otherwise.
#include <windows.h>
#include <stdio.h>

int wmain()
{
    // Skip our own program name by the platform's rule for argument 0.
    const wchar_t *line = GetCommandLineW();
    if (*line == L'"') {
        line++;
        while (*line != L'\0' && *line != L'"') line++;
        if (*line == L'"') line++;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') line++;
    }
    while (*line == L' ' || *line == L'\t') line++;
    static wchar_t command[32768];
    wcsncpy(command, line, 32767);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "exit_status: cannot start the program (error %lu)\n", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) return 1;
    printf("exit=0x%08lx\n", code);
    return 0;
}
