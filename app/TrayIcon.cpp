#include "app/TrayIcon.h"

#include "app/AppState.h"
#include "resources/resource.h"

#include <cwchar>

namespace {

constexpr UINT kTrayIconId = 1;
// The full structure (with balloon fields and GUID), as the shell of every supported Windows takes it.
static_assert(sizeof(NOTIFYICONDATAW) == 976, "NOTIFYICONDATAW is expected in its full size");
constexpr int kDurationPosition = 3;

struct TrayMenuItem {
    UINT flags;
    UINT_PTR id;
    const wchar_t* text;
};

constexpr TrayMenuItem kTrayMenu[] = {
    {MF_STRING, IDM_TRAY_SHOW, L"Show Window"},
    {MF_STRING, IDM_TRAY_HIDE, L"Hide Window"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING | MF_GRAYED, 0, L"Duration: 00:00:00"},
    {MF_SEPARATOR, 0, nullptr},
    {MF_STRING, IDM_TRAY_EXIT, L"Exit"},
};

}  // namespace

void CreateTrayIcon(HWND owner) {
    app.tray = std::make_unique<TrayIcon>();
    TrayIcon& tray = *app.tray;
    tray.owner = owner;
    NOTIFYICONDATAW& d = tray.data;
    d.cbSize = sizeof(NOTIFYICONDATAW);
    d.hWnd = owner;
    d.uID = kTrayIconId;
    d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    d.uCallbackMessage = WM_TRAYICON;
    d.hIcon = LoadIconW(app.moduleInstance, MAKEINTRESOURCEW(IDI_ZENTROVIA));
    wcscpy_s(d.szTip, 128, kTrayTipReady);
    tray.added = Shell_NotifyIconW(NIM_ADD, &d) != FALSE;

    tray.menu.reset(CreatePopupMenu());
    if (!tray.menu) return;
    for (const TrayMenuItem& item : kTrayMenu) AppendMenuW(tray.menu.get(), item.flags, item.id, item.text);
}

void SetTrayTip(TrayIcon& tray, const wchar_t* tip) {
    if (!tray.added) return;
    wcscpy_s(tray.data.szTip, 128, tip);
    tray.data.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &tray.data);
}

void SetTrayDuration(TrayIcon& tray, const wchar_t* text) {
    if (!tray.menu) return;
    ModifyMenuW(tray.menu.get(), kDurationPosition, MF_BYPOSITION | MF_GRAYED, 0, text);
}

LRESULT HandleTrayMessage(LPARAM mouseMessage) {
    TrayIcon* tray = app.tray.get();
    if (!tray) return 0;
    if (mouseMessage == WM_RBUTTONUP) {
        if (!tray->menu) return 0;
        POINT cursor;
        GetCursorPos(&cursor);
        // Foreground first, or the menu would not close when the user clicks elsewhere.
        SetForegroundWindow(tray->owner);
        TrackPopupMenu(tray->menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, tray->owner, nullptr);
        PostMessageW(tray->owner, WM_NULL, 0, 0);
    } else if (mouseMessage == WM_LBUTTONDBLCLK) {
        ShowWindow(tray->owner, SW_RESTORE);
        SetForegroundWindow(tray->owner);
    }
    return 0;
}

void DestroyTrayIcon() {
    if (!app.tray) return;
    // The shell lets go of the icon before the record (and its menu) goes.
    if (app.tray->added) Shell_NotifyIconW(NIM_DELETE, &app.tray->data);
    app.tray.reset();
}
