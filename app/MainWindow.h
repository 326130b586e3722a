#pragma once
#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A quit that did not come from the main window's destruction (the update exit path) still
// has to stop a running recording and remove the tray icon: the window's tear-down does both.
void CloseMainWindowAfterQuit();
