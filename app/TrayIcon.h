#pragma once
// The notification-area icon with its tip and its small popup menu.
#include <windows.h>
#include <shellapi.h>

constexpr UINT WM_TRAYICON = WM_USER + 1;

struct TrayIcon {
    NOTIFYICONDATAW data;
    HWND owner;
    HMENU menu;
    bool added;
};

// Creates the icon (tip "Zentrovia - Ready") and the menu, stored in app.tray.
void CreateTrayIcon(HWND owner);
// Shows a new tip when the icon was added.
void SetTrayTip(TrayIcon& tray, const wchar_t* tip);
// Replaces the grey "Duration: " line of the menu.
void SetTrayDuration(TrayIcon& tray, const wchar_t* text);
LRESULT HandleTrayMessage(LPARAM mouseMessage);
// Removes the icon, destroys the menu and frees app.tray.
void DestroyTrayIcon();
