#pragma once
// The settings window: recording resolution, audio device and webcam corner.
#include <windows.h>

#include "recording/audio/AudioDeviceList.h"

#include <cstdint>
#include <string>
#include <vector>

// What the settings window edits; the choices reach the program only when `applied` is set.
struct SettingsState {
    int32_t resolution = 0;
    int32_t audioDevice = 0;  // 0 = "No Audio", n = the n-th of audioDevices, then "System sound"
    int32_t webcamCorner = 0;
    bool applied = false;
    std::vector<AudioDevice> audioDevices;
};

// Opens the settings window with the current choices and returns once it is closed, having taken
// applied choices back (and moved a showing webcam overlay). A second call while it is open brings
// the open window forward.
void OpenSettingsWindow(HWND mainWindow);
