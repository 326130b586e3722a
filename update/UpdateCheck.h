#pragma once
// The start-up update check, run once per run on its own thread.
#include <windows.h>

#include <string>

struct UpdateInfo {
    std::wstring version;
    std::wstring changelog;
    std::wstring downloadUrl;
};

// Where the check asks; fixed when the program is built (ZENTROVIA_UPDATE_SERVER), so nothing at run
// time can point the program, and the installer it starts elevated, somewhere else.
extern const std::wstring UpdateServerBaseUrl;
extern const std::wstring CurrentVersion;
extern UpdateInfo PendingUpdate;

constexpr wchar_t kUpdateKey[] = L"SOFTWARE\\Zentrovia\\Update";
constexpr wchar_t kAcknowledgedValue[] = L"AcknowledgedVersion";

// True when the server offers a version newer than this one that no installer was started for.
bool CheckForUpdate(UpdateInfo& info);
// Tells `mainWindow` (the thread's parameter) with WM_UPDATE_AVAILABLE when there is an offer.
DWORD WINAPI UpdateCheckThread(LPVOID mainWindow);
