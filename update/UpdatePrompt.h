#pragma once
// Offers a newer version, downloads its installer with a progress window and starts it.
#include <windows.h>
#include <shellapi.h>

// Posted by the update check to the main window; the offer is in PendingUpdate.
constexpr UINT WM_UPDATE_AVAILABLE = WM_APP + 100;

void ShowUpdatePrompt(HWND owner);

// Starts the downloaded installer; its own file so a test build can watch the request.
BOOL LaunchInstaller(SHELLEXECUTEINFOW& request);
