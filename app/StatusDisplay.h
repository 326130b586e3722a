#pragma once
#include <windows.h>

// Brings buttons, status text, duration timer and tray tip in line with the recorder's state.
void RefreshRecordingUi(HWND mainWindow);
// The one-second duration tick (WM_TIMER).
void OnDurationTick(HWND mainWindow, WPARAM timerId);
