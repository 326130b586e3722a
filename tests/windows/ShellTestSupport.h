#pragma once
// What in-process tests of the main window need: GDI+ started, and a window class that
// runs the real main window procedure with the real menu.
#include <windows.h>

// Starts GDI+ for the whole test program (once) and registers `className`.
void PrepareMainWindowClass(const wchar_t* className);
