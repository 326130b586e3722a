#include "app/Controls.h"

HWND MakeControl(HWND parent, const ControlSpec& entry, HFONT font, const wchar_t* text) {
    HWND control = CreateWindowExW(0, entry.className, text ? text : entry.text, WS_CHILD | WS_VISIBLE | entry.style,
                                   entry.x, entry.y, entry.width, entry.height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control && font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

HFONT MakeUiFont(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}
