#pragma once
// The application-wide record of the user-interface thread.
#include <windows.h>

#include <cstdint>
#include <string>

class Recorder;
struct TrayIcon;

struct CaptureRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct AppState {
    // process
    HINSTANCE moduleInstance = nullptr;
    HWND mainWindow = nullptr;
    wchar_t titleText[100] = {};
    wchar_t className[100] = {};
    Recorder* recorder = nullptr;
    TrayIcon* tray = nullptr;

    // recording inputs
    CaptureRegion selectedRegion;
    std::wstring outputFolder;
    bool microphoneOn = true;

    // settings values
    int32_t resolutionChoice = 0;
    int32_t audioDeviceChoice = 0;
    int32_t webcamCornerChoice = 0;
    bool webcamOn = false;

    // display clock
    uint32_t durationStartTick = 0;
    uint32_t durationPausedMs = 0;
    uint32_t durationPauseTick = 0;
    std::wstring recordingText;
    std::wstring pausedText;

    // main window objects
    HWND recordButton = nullptr;
    HWND pauseButton = nullptr;
    HWND fullScreenButton = nullptr;
    HWND regionButton = nullptr;
    HWND microphoneButton = nullptr;
    HWND webcamButton = nullptr;
    HWND folderEdit = nullptr;
    HWND browseButton = nullptr;
    HWND statusLabel = nullptr;
    HBRUSH backgroundBrush = nullptr;
    HFONT fontTitle = nullptr;
    HFONT fontNormal = nullptr;
    HFONT fontSemibold = nullptr;
    HFONT fontSmall = nullptr;
    HFONT fontStatus = nullptr;
    HBITMAP bmpRecord = nullptr;
    HBITMAP bmpPause = nullptr;
    HBITMAP bmpResume = nullptr;
    HBITMAP bmpStop = nullptr;
    HBITMAP bmpRegion = nullptr;
    HBITMAP bmpFullScreen = nullptr;
    HBITMAP bmpMicOn = nullptr;
    HBITMAP bmpMicOff = nullptr;
    HBITMAP bmpPauseDimmed = nullptr;
    HBITMAP bmpWebcamOn = nullptr;
    HBITMAP bmpWebcamDimmed = nullptr;
    bool aboutClassRegistered = false;
};

extern AppState app;
