#pragma once
#include <windows.h>

// Runs the main window's command `id`; false for ids the window does not know.
bool DispatchMainCommand(HWND mainWindow, WORD id);

// Posted by the capture worker when a recording had to end by itself (the writer failed).
constexpr UINT WM_RECORDING_ENDED = WM_APP + 101;

// Stops the recording and, when it failed on the way (a write, the disk, Finalize), tells the
// user once, naming the file and the reason.
void StopAndReport(HWND window);
