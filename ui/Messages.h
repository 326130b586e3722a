#pragma once
// The program's private window messages, all of them, with the window each one goes to. Numbers
// may repeat across windows: a receiver tells them apart by the window they were posted to.
#include <windows.h>

// Main window: mouse messages of the notification-area icon (lParam).
constexpr UINT WM_TRAYICON = WM_USER + 1;
// Main window: the start-up update check found an offer (in PendingUpdate).
constexpr UINT WM_UPDATE_AVAILABLE = WM_APP + 100;
// Main window: the capture worker ended a recording by itself (the writer failed).
constexpr UINT WM_RECORDING_ENDED = WM_APP + 101;
// Main window: the user closed the webcam overlay itself (Alt+F4): the webcam is to be switched off.
constexpr UINT WM_WEBCAM_CLOSED = WM_APP + 102;
