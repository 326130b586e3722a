#pragma once
// The application-wide record of the user-interface thread.
#include <windows.h>

#include "app/TrayIcon.h"
#include "common/WinHandles.h"
#include "recording/audio/SoundSource.h"

#include <cstdint>
#include <memory>
#include <string>

class Recorder;

struct CaptureRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The main window's GDI objects: made by its creation handler, released together by its
// destruction in member order (fonts, then the brush, then the pictures).
struct MainWindowGdi {
    UniqueFont fontTitle;
    UniqueFont fontNormal;
    UniqueFont fontSemibold;
    UniqueFont fontSmall;
    UniqueFont fontStatus;
    UniqueBrush backgroundBrush;
    UniqueBitmap bmpRecord;
    UniqueBitmap bmpPause;
    UniqueBitmap bmpResume;
    UniqueBitmap bmpStop;
    UniqueBitmap bmpRegion;
    UniqueBitmap bmpFullScreen;
    UniqueBitmap bmpMicOn;
    UniqueBitmap bmpMicOff;
    UniqueBitmap bmpPauseDimmed;
    UniqueBitmap bmpWebcamOn;
    UniqueBitmap bmpWebcamDimmed;
};

struct AppState {
    // process
    HINSTANCE moduleInstance = nullptr;
    HWND mainWindow = nullptr;
    wchar_t titleText[100] = {};
    wchar_t className[100] = {};
    Recorder* recorder = nullptr;
    std::unique_ptr<TrayIcon> tray;

    // recording inputs
    CaptureRegion selectedRegion;
    std::wstring outputFolder;
    bool microphoneOn = true;

    // settings values
    int32_t resolutionChoice = 0;
    SoundSource soundSource;  // the audio device list's choice, by endpoint
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
    MainWindowGdi gdi;
    bool aboutClassRegistered = false;
};

extern AppState app;

// The whole primary screen, the capture rectangle at start and after "Full screen".
CaptureRegion FullScreenRegion();
