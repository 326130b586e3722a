#pragma once
// Registration of the secondary windows' classes.
#include <windows.h>

// Registers a class of this program's module; false when the platform refuses (e.g. the class
// is registered already).
inline bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background, UINT style = 0,
                                const wchar_t* cursor = IDC_ARROW) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, cursor);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0;
}
