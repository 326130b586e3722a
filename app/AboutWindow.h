#pragma once
#include <windows.h>

// Opens the About window centred on the main window; returns once it has been closed.
void OpenAboutWindow(HWND mainWindow);
// Centres a secondary window on the main window's outer rectangle, keeping its size and z-order
// (no clamping: it may end up partly off the screen).
void CentreOnMainWindow(HWND window, HWND mainWindow);
