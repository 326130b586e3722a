#include "ShellTestSupport.h"

#include "app/MainWindow.h"
#include "resources/resource.h"

#include <objidl.h>
#include <gdiplus.h>

void PrepareMainWindowClass(const wchar_t* className) {
    // Started once and left running: the process ends soon after the tests anyway.
    static ULONG_PTR gdiplusToken = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        return token;
    }();
    (void)gdiplusToken;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_ZENTROVIA);
    RegisterClassExW(&wc);
}
