#pragma once
// The dark look the program's windows share: their background and their one typeface.
#include <windows.h>

// Behind the main, About and settings windows and on the button tiles.
constexpr COLORREF kDarkBackground = RGB(45, 45, 48);

// "Segoe UI" at the given pixel height and weight, with ClearType.
HFONT MakeUiFont(int height, int weight);
