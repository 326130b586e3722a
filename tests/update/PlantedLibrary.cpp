// Stands for a DLL planted beside the program under a system DLL's name: leaves "<its path>.loaded"
// when something loads it, then refuses to load.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH + 8] = {};
    GetModuleFileNameW(module, marker, MAX_PATH);
    lstrcatW(marker, L".loaded");
    CloseHandle(CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return FALSE;
}
