#include "webcam/WebcamOverlay.h"

#include "common/Result.h"
#include "common/WinHandles.h"
#include "ui/Messages.h"
#include "ui/WindowClass.h"

namespace {

constexpr wchar_t kClassName[] = L"WebcamOverlayWnd";
constexpr int kWidth = 208;
constexpr int kHeight = 158;
constexpr RECT kPicture{4, 4, 204, 154};  // a 4-pixel frame on every side
constexpr int kEdgeDistance = 20;
constexpr COLORREF kFrame = RGB(20, 20, 20);
constexpr wchar_t kWarning[] =
    L"Unable to open webcam.\nPlease check camera access in\nWindows Settings \u2192 Privacy \u2192 Camera.";

enum WebcamCorner : int32_t { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

LRESULT CALLBACK OverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        UniqueBrush frame(CreateSolidBrush(kFrame));
        FillRect(reinterpret_cast<HDC>(wParam), &client, frame.get());
        return 1;
    }
    case WM_NCHITTEST:
        return HTCAPTION;  // the frame drags the overlay
    case WM_CLOSE: {
        // Closing the overlay is switching the webcam off, which its owner does; alone, it closes.
        WebcamOverlay& overlay = WebcamOverlay::instance();
        if (!overlay.owner || !PostMessageW(overlay.owner, WM_WEBCAM_CLOSED, 0, 0)) overlay.close();
        return 0;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterOverlayClass() {
    static bool registered = false;
    // The class keeps its brush for the process.
    if (!registered)
        registered = RegisterWindowClass(kClassName, OverlayProc, CreateSolidBrush(kFrame), CS_HREDRAW | CS_VREDRAW);
}

HRESULT FirstCamera(ComRef<IBaseFilter>& camera) {
    ComRef<ICreateDevEnum> devices;
    ZV_RETURN_IF_FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(devices.put())));
    ComRef<IEnumMoniker> monikers;
    ZV_RETURN_IF_FAILED(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0));
    // An empty category succeeds without an enumerator.
    ZV_RETURN_HR_IF_NULL(VFW_E_NO_CAPTURE_HARDWARE, monikers.get());
    ComRef<IMoniker> first;
    if (monikers->Next(1, first.put(), nullptr) != S_OK || !first) return VFW_E_NO_CAPTURE_HARDWARE;
    ZV_RETURN_IF_FAILED(first->BindToObject(nullptr, nullptr, IID_PPV_ARGS(camera.put())));
    ZV_RETURN_HR_IF_NULL(E_NOINTERFACE, camera.get());
    return S_OK;
}

}  // namespace

HRESULT (*WebcamOverlay::startPreview)(WebcamOverlay&) = StartCameraPreview;

HRESULT StartCameraPreview(WebcamOverlay& overlay) {
    ZV_RETURN_IF_FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(overlay.graph.put())));
    ZV_RETURN_IF_FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(overlay.captureBuilder.put())));
    overlay.captureBuilder->SetFiltergraph(overlay.graph.get());
    ZV_RETURN_IF_FAILED(FirstCamera(overlay.camera));
    overlay.graph->AddFilter(overlay.camera.get(), L"Webcam");
    // No sink: the graph adds its default video renderer. Cameras without a preview pin render the capture pin.
    HRESULT rendered = overlay.captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                            overlay.camera.get(), nullptr, nullptr);
    if (FAILED(rendered))
        rendered = overlay.captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, overlay.camera.get(),
                                                        nullptr, nullptr);
    ZV_RETURN_IF_FAILED(rendered);
    // MinGW-w64 10 headers have no __uuidof for IVideoWindow or IMediaControl: their IIDs by name.
    ZV_RETURN_IF_FAILED(overlay.graph->QueryInterface(IID_IVideoWindow, overlay.videoWindow.putVoid()));
    overlay.videoWindow->put_Owner(reinterpret_cast<OAHWND>(overlay.window));
    overlay.videoWindow->put_WindowStyle(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS);
    overlay.videoWindow->SetWindowPosition(kPicture.left, kPicture.top, kPicture.right - kPicture.left,
                                           kPicture.bottom - kPicture.top);
    ZV_RETURN_IF_FAILED(overlay.graph->QueryInterface(IID_IMediaControl, overlay.mediaControl.putVoid()));
    // A graph that will not run (another program holds the camera) would leave a dark overlay
    // that only pretends to preview.
    return overlay.mediaControl->Run();
}

WebcamOverlay& WebcamOverlay::instance() {
    static WebcamOverlay overlay;  // thread-safe first use; closed at process exit
    return overlay;
}

bool WebcamOverlay::open(int32_t corner, HWND ownerWindow) {
    if (running) {
        placeInCorner(corner);
        return true;
    }
    owner = ownerWindow;
    // Normally done already by the Recorder; counted either way, so close undoes it.
    comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    RegisterOverlayClass();
    window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, kWidth,
                             kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        close();
        return false;
    }
    if (FAILED(startPreview(*this))) {
        close();
        MessageBoxW(nullptr, kWarning, L"Webcam", MB_OK | MB_ICONWARNING);
        return false;
    }
    placeInCorner(corner);
    running = true;
    return true;
}

void WebcamOverlay::placeInCorner(int32_t corner) {
    if (!window) return;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const bool left = corner == TopLeft || corner == BottomLeft;
    const bool top = corner == TopLeft || corner == TopRight;  // any other value sits bottom-right
    const int x = left ? kEdgeDistance : screenWidth - kWidth - kEdgeDistance;
    const int y = top ? kEdgeDistance : screenHeight - kHeight - kEdgeDistance;
    SetWindowPos(window, HWND_TOPMOST, x, y, kWidth, kHeight, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    if (videoWindow)
        videoWindow->SetWindowPosition(kPicture.left, kPicture.top, kPicture.right - kPicture.left,
                                       kPicture.bottom - kPicture.top);
}

void WebcamOverlay::close() {
    if (mediaControl) {
        mediaControl->Stop();
        mediaControl.reset();
    }
    if (videoWindow) {
        // The renderer's window leaves its owner before the owner goes.
        videoWindow->put_Visible(OAFALSE);
        videoWindow->put_Owner(0);
        videoWindow.reset();
    }
    camera.reset();
    captureBuilder.reset();
    graph.reset();
    if (window) DestroyWindow(std::exchange(window, nullptr));
    running = false;
    if (std::exchange(comInitialized, false)) CoUninitialize();
}

void CloseWebcamOverlay() { WebcamOverlay::instance().close(); }
