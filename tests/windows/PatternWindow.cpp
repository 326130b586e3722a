#include "PatternWindow.h"

namespace {

struct PatternSize {
    int width, height;
};

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        const int half = client.bottom / 2;
        auto fill = [&](RECT r, COLORREF colour) {
            HBRUSH brush = CreateSolidBrush(colour);
            FillRect(dc, &r, brush);
            DeleteObject(brush);
        };
        fill({0, 0, client.right, half}, kPatternTop);
        fill({0, half, client.right, client.bottom}, kPatternBottom);
        fill({0, 0, kPatternBandWidth, client.bottom}, kPatternBand);
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND ShowPatternWindow(int x, int y, int width, int height, HCURSOR cursor) {
    static int serial = 0;
    wchar_t className[64];
    wsprintfW(className, L"ZvPattern%d", ++serial);  // a class per window, so each has its cursor
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PatternProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, className, L"pattern", WS_POPUP | WS_VISIBLE, x, y, width, height,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    UpdateWindow(window);
    PumpMessages(300);
    return window;
}

void PumpMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

COLORREF PatternColour(int x, int y, int height) {
    if (x < kPatternBandWidth) return kPatternBand;
    return y < height / 2 ? kPatternTop : kPatternBottom;
}

HCURSOR CreateSquareCursor() {
    BYTE andMask[32 * 4] = {};  // opaque everywhere
    BYTE xorMask[32 * 4] = {};  // black
    return CreateCursor(GetModuleHandleW(nullptr), 16, 16, 32, 32, andMask, xorMask);
}
