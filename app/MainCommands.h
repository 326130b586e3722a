#pragma once
#include <windows.h>

// Runs the main window's command `id`; false for ids the window does not know.
bool DispatchMainCommand(HWND mainWindow, WORD id);
