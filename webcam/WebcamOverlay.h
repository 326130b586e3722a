#pragma once
// The topmost corner window that shows the first camera's live picture through a DirectShow
// preview graph.
#include <windows.h>
#include <dshow.h>

#include "common/ComRef.h"

#include <cstdint>

struct WebcamOverlay {
    HWND window = nullptr;
    HWND owner = nullptr;  // told with WM_WEBCAM_CLOSED when the user closes the overlay
    bool running = false;
    bool comInitialized = false;  // open's own CoInitializeEx, undone by close
    ComRef<IGraphBuilder> graph;
    ComRef<ICaptureGraphBuilder2> captureBuilder;
    ComRef<IBaseFilter> camera;
    ComRef<IMediaControl> mediaControl;
    ComRef<IVideoWindow> videoWindow;

    // Builds the preview graph into the overlay's window and starts it. Replaceable so that tests
    // can stand in for a camera; the real one needs a video input device.
    static HRESULT (*startPreview)(WebcamOverlay& overlay);

    static WebcamOverlay& instance();
    // Shows the preview in the corner (a WebcamCorner); false, after a warning, when no camera opens.
    bool open(int32_t corner, HWND owner = nullptr);
    void placeInCorner(int32_t corner);
    // Safe when nothing is open, and more than once.
    void close();
    ~WebcamOverlay() { close(); }
};

// The DirectShow preview of the first video input device.
HRESULT StartCameraPreview(WebcamOverlay& overlay);

// Closes the webcam preview when one is shown.
void CloseWebcamOverlay();
