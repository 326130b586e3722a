#include "region/RegionSelector.h"

#include "common/WinHandles.h"
#include "recording/ScreenPixels.h"
#include "ui/MessageLoop.h"
#include "ui/WindowClass.h"

#include <windowsx.h>

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kClassName[] = L"RegionSelectorClass";
constexpr wchar_t kTitle[] = L"Select Region";
constexpr BYTE kOpacity = 128;  // of 255: the desktop shows through a half-dark veil
constexpr int kBandWidth = 2;
constexpr COLORREF kBandColour = RGB(255, 0, 0);
constexpr COLORREF kLabelColour = RGB(255, 255, 0);
constexpr int kLabelOffset = 5;

RECT Normalised(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

void PaintRubberBand(const RegionSelector& selector, HDC dc) {
    const RECT band = Normalised(selector.startX, selector.startY, selector.currentX, selector.currentY);
    {
        UniquePen pen(CreatePen(PS_SOLID, kBandWidth, kBandColour));
        SelectedObject selectedPen(dc, pen.get());
        SelectedObject hollow(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, band.left, band.top, band.right, band.bottom);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kLabelColour);
    wchar_t label[64];
    const int length = swprintf(label, 64, L"Width: %d, Height: %d", int(band.right - band.left),
                                int(band.bottom - band.top));
    if (length > 0) TextOutW(dc, band.left + kLabelOffset, band.top + kLabelOffset, label, length);
}

LRESULT HandleMessage(RegionSelector& selector, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Signed 16-bit pointer positions: a captured pointer left of or above the screen comes out negative.
    const int32_t x = GET_X_LPARAM(lParam);
    const int32_t y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_LBUTTONDOWN:
        selector.startX = selector.currentX = x;
        selector.startY = selector.currentY = y;
        selector.dragging = true;
        SetCapture(window);
        return 0;
    case WM_MOUSEMOVE:
        if (selector.dragging) {
            selector.currentX = x;
            selector.currentY = y;
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case WM_LBUTTONUP:
        if (selector.dragging) {
            selector.currentX = x;
            selector.currentY = y;
            selector.dragging = false;
            ReleaseCapture();
            selector.selection = Normalised(selector.startX, selector.startY, x, y);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            selector.selection = RECT{};
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return 0;  // other keys are swallowed
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        UniqueBrush black(CreateSolidBrush(RGB(0, 0, 0)));
        FillRect(reinterpret_cast<HDC>(wParam), &client, black.get());
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (selector.dragging) PaintRubberBand(selector, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        selector.window = nullptr;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK RegionSelectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* selector = static_cast<RegionSelector*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(selector));
        selector->window = window;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* selector = reinterpret_cast<RegionSelector*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!selector) return DefWindowProcW(window, message, wParam, lParam);
    return HandleMessage(*selector, window, message, wParam, lParam);
}

}  // namespace

RegionSelector::~RegionSelector() {
    if (window) DestroyWindow(window);
}

bool RegionSelector::run() {
    HINSTANCE module = GetModuleHandleW(nullptr);
    // An earlier run's class still registered is fine.
    RegisterWindowClass(kClassName, RegionSelectorProc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)),
                        CS_HREDRAW | CS_VREDRAW, IDC_CROSS);

    // Created per-monitor aware, the window gets physical pointer positions and draws in physical
    // pixels, the ones a recording copies; Windows puts the thread's awareness back for the
    // main window and switches to the window's own whenever it handles one of its messages.
    ScreenSize seen;
    {
        PerMonitorAwareThread physicalPixels;
        seen = SeenScreenSize();
        window = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, kClassName, kTitle, WS_POPUP, 0, 0, seen.width,
                                 seen.height, nullptr, nullptr, module, this);
    }
    if (!window) return false;
    SetLayeredWindowAttributes(window, 0, kOpacity, LWA_ALPHA);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    RunNestedLoop(window);
    // A program-wide quit ends the loop with the selector still up; it goes before its class does.
    if (window) DestroyWindow(window);
    UnregisterClassW(kClassName, module);
    // Where Windows could not make the window aware, it scaled it: the drag is then mapped onto
    // the physical pixels that lay under it (on an aware window this changes nothing).
    const ScreenEdges chosen = SeenToPhysical(ScreenEdges{selection.left, selection.top, selection.right,
                                                          selection.bottom}, seen, PhysicalScreenSize());
    selection = {chosen.left, chosen.top, chosen.right, chosen.bottom};
    return selection.right - selection.left > 0 && selection.bottom - selection.top > 0;
}
