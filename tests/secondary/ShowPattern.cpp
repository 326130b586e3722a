// Shows a known picture at X Y WIDTH HEIGHT for SECONDS, topmost, for the region journey's
// recordings: the top half red, the bottom half blue, a 10-pixel green band down the left edge.
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const struct { RECT rect; COLORREF colour; } parts[] = {
        {{0, 0, client.right, client.bottom / 2}, RGB(255, 0, 0)},
        {{0, client.bottom / 2, client.right, client.bottom}, RGB(0, 0, 255)},
        {{0, 0, 10, client.bottom}, RGB(0, 255, 0)},
    };
    for (const auto& part : parts) {
        HBRUSH brush = CreateSolidBrush(part.colour);
        FillRect(dc, &part.rect, brush);
        DeleteObject(brush);
    }
    EndPaint(window, &paint);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) return 2;
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = PatternProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"ZvPattern";
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"pattern", WS_POPUP | WS_VISIBLE, _wtoi(argv[1]),
                                  _wtoi(argv[2]), _wtoi(argv[3]), _wtoi(argv[4]), nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    UpdateWindow(window);
    const DWORD bound = static_cast<DWORD>(_wtoi(argv[5])) * 1000, start = GetTickCount();
    while (GetTickCount() - start < bound) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    return 0;
}
