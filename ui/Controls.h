#pragma once
// What the program's windows share to build their children from layout tables: one row per
// child control and the call that makes it.
#include <windows.h>

struct ChildControl {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;
    int id;
};

// Creates the control in `parent`, with `font` when given; `text` replaces the entry's text.
HWND MakeControl(HWND parent, const ChildControl& entry, HFONT font = nullptr, const wchar_t* text = nullptr);
