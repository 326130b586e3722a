// A small window with known controls and menus, so the driver and the Python
// helpers can be checked against something whose answers we know.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <cstdlib>

namespace {

constexpr wchar_t kClassName[] = L"ZVTESTWINDOW";
constexpr wchar_t kTitle[] = L"zv harness test window";
constexpr int kWidth = 400;  // outer size, checked by the harness test
constexpr int kHeight = 300;

enum CommandId : int {
    IdGreetButton = 201,
    IdNameEdit = 202,
    IdOptionCheck = 203,
    IdStatusText = 204,
    IdSayHello = 301,
    IdExit = 302,
    IdAbout = 303,
    IdAlwaysOnTop = 304,
    IdPopupOne = 401,
    IdPopupTwo = 402,
};

struct ChildControl {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    DWORD style;
    int x, y, w, h;
};

constexpr ChildControl kChildren[] = {
    {L"Button", L"&Greet", IdGreetButton, BS_PUSHBUTTON | WS_TABSTOP, 10, 10, 120, 30},
    {L"Edit", L"hello edit", IdNameEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 140, 10, 200, 24},
    {L"Button", L"Option", IdOptionCheck, BS_AUTOCHECKBOX | WS_TABSTOP, 10, 50, 120, 24},
    {L"Static", L"Status: idle", IdStatusText, SS_LEFT, 10, 90, 300, 20},
};

struct TestWindow {
    HWND hwnd = nullptr;
    int greetCount = 0;
    int exitCode = 0;
};

HMENU BuildMenuBar() {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IdSayHello, L"&Say hello");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IdExit, L"E&xit");
    HMENU view = CreatePopupMenu();
    AppendMenuW(view, MF_STRING | MF_CHECKED, IdAlwaysOnTop, L"&Always on top");
    AppendMenuW(view, MF_STRING | MF_GRAYED, IdAbout, L"&Disabled item");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), L"&View");
    return bar;
}

void SetStatus(TestWindow& w, const wchar_t* text) {
    SetDlgItemTextW(w.hwnd, IdStatusText, text);
}

void ShowPopup(TestWindow& w, POINT screenPt) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, IdPopupOne, L"Popup &one");
    AppendMenuW(popup, MF_STRING, IdPopupTwo, L"Popup &two");
    // TrackPopupMenu only dismisses properly when the owner is foreground.
    SetForegroundWindow(w.hwnd);
    int chosen = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, screenPt.x, screenPt.y, 0, w.hwnd, nullptr);
    DestroyMenu(popup);
    if (chosen == IdPopupOne) SetStatus(w, L"Status: popup one");
    if (chosen == IdPopupTwo) SetStatus(w, L"Status: popup two");
}

void OnCommand(TestWindow& w, int id) {
    switch (id) {
    case IdGreetButton: {
        wchar_t text[64];
        swprintf(text, 64, L"Status: greeted %d", ++w.greetCount);
        SetStatus(w, text);
        break;
    }
    case IdSayHello: {
        int answer = MessageBoxW(w.hwnd, L"Hello from the test window.\nSecond line.", L"ZV Test", MB_OKCANCEL);
        SetStatus(w, answer == IDOK ? L"Status: ok" : L"Status: cancel");
        break;
    }
    case IdExit:
        DestroyWindow(w.hwnd);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* w = static_cast<TestWindow*>(cs->lpCreateParams);
        w->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    }
    auto* w = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!w) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_CREATE:
        for (const ChildControl& c : kChildren) {
            CreateWindowExW(0, c.className, c.text, WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.w, c.h, hwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), GetModuleHandleW(nullptr), nullptr);
        }
        return 0;
    case WM_COMMAND:
        OnCommand(*w, LOWORD(wp));
        return 0;
    case WM_CONTEXTMENU:
        ShowPopup(*w, POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))});
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        PostQuitMessage(w->exitCode);
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int ExitCodeFromCommandLine() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int code = 0;
    for (int i = 1; argv && i + 1 < argc; ++i) {
        if (wcscmp(argv[i], L"--exit-code") == 0) code = _wtoi(argv[i + 1]);
    }
    LocalFree(argv);
    return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCmd) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 10;

    TestWindow window;
    window.exitCode = ExitCodeFromCommandLine();
    HWND hwnd = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 100,
                                100, kWidth, kHeight, nullptr, BuildMenuBar(), instance, &window);
    if (!hwnd) return 11;
    ShowWindow(hwnd, showCmd);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
