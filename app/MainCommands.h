#pragma once
#include <windows.h>

#include "ui/Messages.h"

// Runs the main window's command `id`; false for ids the window does not know.
bool DispatchMainCommand(HWND mainWindow, WORD id);

// Stops the recording and, when it failed on the way (a write, the disk, Finalize), tells the
// user once, naming the file and the reason.
void StopAndReport(HWND window);
