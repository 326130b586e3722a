// The About window: product name, version and a short description on the dark background.
#include "app/AboutWindow.h"

#include "app/AppState.h"
#include "common/WinHandles.h"
#include "ui/DarkTheme.h"
#include "ui/MessageLoop.h"
#include "ui/WindowClass.h"

#include "Version.h"

#include <cwchar>

namespace {

constexpr wchar_t kClassName[] = L"AboutDlg";
constexpr wchar_t kTitle[] = L"About Zentrovia";
constexpr COLORREF kText = RGB(210, 210, 215);
constexpr int kWidth = 340;
constexpr int kHeight = 180;
constexpr DWORD kStyle = WS_POPUPWINDOW | WS_DLGFRAME | WS_VISIBLE;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

// The brush of the current opening; the opener owns it.
HBRUSH aboutBrush = nullptr;

struct AboutLine {
    int y;
    int height;
    UniqueFont MainWindowGdi::*font;
};
constexpr AboutLine kLines[] = {
    {20, 30, &MainWindowGdi::fontTitle},  {58, 20, &MainWindowGdi::fontSemibold}, {84, 18, &MainWindowGdi::fontNormal},
    {108, 18, &MainWindowGdi::fontNormal}, {132, 18, &MainWindowGdi::fontSmall},
};

LRESULT CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        aboutBrush = static_cast<HBRUSH>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, aboutBrush);
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), kText);
        return reinterpret_cast<LRESULT>(aboutBrush);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterAboutClass(HBRUSH brush) {
    if (app.aboutClassRegistered) return;
    // The first opening's brush only: the window paints its own background.
    RegisterWindowClass(kClassName, AboutProc, brush);
    app.aboutClassRegistered = true;
}

void AddLines(HWND window) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t yearLine[64];
    swprintf(yearLine, 64, L"\u00A9 %u Zentrovia", unsigned(now.wYear));
    const wchar_t* texts[] = {L"Zentrovia", L"Version " ZV_VERSION_TEXT, L"Screen Recorder for Windows",
                              L"www.zentrovia.com", yearLine};
    for (size_t i = 0; i < std::size(kLines); ++i) {
        const AboutLine& line = kLines[i];
        HWND label = CreateWindowExW(0, L"STATIC", texts[i], WS_CHILD | WS_VISIBLE | SS_CENTER, 0, line.y, kWidth,
                                     line.height, window, nullptr, app.moduleInstance, nullptr);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>((app.gdi.*line.font).get()), TRUE);
    }
}

}  // namespace

void CentreOnMainWindow(HWND window, HWND mainWindow) {
    RECT main, own;
    GetWindowRect(mainWindow, &main);
    GetWindowRect(window, &own);
    const int x = main.left + (main.right - main.left - (own.right - own.left)) / 2;
    const int y = main.top + (main.bottom - main.top - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void OpenAboutWindow(HWND mainWindow) {
    UniqueBrush brush(CreateSolidBrush(kDarkBackground));
    RegisterAboutClass(brush.get());
    HWND window = CreateWindowExW(kExStyle, kClassName, kTitle, kStyle, 0, 0, kWidth, kHeight, mainWindow, nullptr,
                                  app.moduleInstance, brush.get());
    if (!window) return;  // no window would ever end the loop
    CentreOnMainWindow(window, mainWindow);
    AddLines(window);
    RunNestedLoop(window);
    aboutBrush = nullptr;
}
