/* planted_dll.c: a DLL that stands in for one an attacker leaves beside a
 * packed executable under a system DLL's name. When any process loads it,
 * it leaves a file named after itself plus ".loaded" beside itself, so a
 * test sees every load, whoever made it. It exports nothing and does
 * nothing else. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t marker[MAX_PATH + 16];
        DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(marker, L".loaded");
            HANDLE file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}
