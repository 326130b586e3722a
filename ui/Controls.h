#pragma once
// What the program's windows share to build their children from layout tables: one entry per
// control, the call that makes it, and the program's one typeface.
#include <windows.h>

struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;
    int id;
};

// Creates the control in `parent`, with `font` when given; `text` replaces the entry's text.
HWND MakeControl(HWND parent, const ControlSpec& entry, HFONT font = nullptr, const wchar_t* text = nullptr);

// "Segoe UI" at the given pixel height and weight, with ClearType.
HFONT MakeUiFont(int height, int weight);
