#pragma once
// The notification-area icon with its tip and its small popup menu.
#include <windows.h>
#include <shellapi.h>

#include "common/WinHandles.h"
#include "ui/Messages.h"

constexpr wchar_t kTrayTipReady[] = L"Zentrovia - Ready";
constexpr wchar_t kTrayTipRecording[] = L"Zentrovia - Recording";
constexpr wchar_t kTrayTipPaused[] = L"Zentrovia - Paused";

struct TrayIcon {
    NOTIFYICONDATAW data{};
    HWND owner = nullptr;
    UniqueMenu menu;
    bool added = false;
};

// Creates the icon (tip kTrayTipReady) and the menu, stored in app.tray.
void CreateTrayIcon(HWND owner);
// Shows a new tip when the icon was added.
void SetTrayTip(TrayIcon& tray, const wchar_t* tip);
// Replaces the grey "Duration: " line of the menu.
void SetTrayDuration(TrayIcon& tray, const wchar_t* text);
LRESULT HandleTrayMessage(LPARAM mouseMessage);
// Removes the icon, destroys the menu and frees app.tray.
void DestroyTrayIcon();
