#pragma once
// A topmost window painted with a known pattern, for tests that look at the screen:
// the top half red, the bottom half blue, a green band down the left edge.
#include <windows.h>

constexpr COLORREF kPatternTop = RGB(255, 0, 0);
constexpr COLORREF kPatternBottom = RGB(0, 0, 255);
constexpr COLORREF kPatternBand = RGB(0, 255, 0);
constexpr int kPatternBandWidth = 10;

// Shows the window at (x, y) with the given client size; `cursor` becomes its class cursor.
HWND ShowPatternWindow(int x, int y, int width, int height, HCURSOR cursor = nullptr);
// A 32 x 32 opaque black square cursor whose hot spot is its centre, like a text cursor's.
HCURSOR CreateSquareCursor();
// Dispatches the thread's messages for about `ms` milliseconds.
void PumpMessages(DWORD ms);
// The colour the pattern has at (x, y), counted from the window's top-left corner.
COLORREF PatternColour(int x, int y, int height);
