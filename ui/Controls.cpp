#include "ui/Controls.h"

HWND MakeControl(HWND parent, const ChildControl& entry, HFONT font, const wchar_t* text) {
    HWND control = CreateWindowExW(0, entry.className, text ? text : entry.text, WS_CHILD | WS_VISIBLE | entry.style,
                                   entry.x, entry.y, entry.width, entry.height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control && font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}
