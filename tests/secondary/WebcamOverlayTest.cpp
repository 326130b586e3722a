// The webcam overlay on real windows, with stand-ins for the camera's preview graph: where each
// corner puts it, Apply in the settings window moving it, repeated close, COM left as found, and
// a graph that will not run; and the real graph, which finds no camera here.
#include "app/AppState.h"
#include "app/MainCommands.h"
#include "app/SettingsWindow.h"
#include "resources/resource.h"
#include "webcam/WebcamOverlay.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <tuple>

namespace {

HRESULT PreviewStarts(WebcamOverlay&) { return S_OK; }

// A real graph that is built, then refuses to run (as when another program holds the camera).
HRESULT GraphWillNotRun(WebcamOverlay& overlay) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(overlay.graph.put()));
    return overlay.graph ? HRESULT_FROM_WIN32(ERROR_BUSY) : E_UNEXPECTED;
}

int warnings = 0;

// Runs inside whatever message loop is waiting: the warning's, or the settings window's. The
// warning's text is the dialogs journey's to check.
void CALLBACK AnswerWarning(HWND, UINT, UINT_PTR, DWORD) {
    if (HWND box = FindWindowW(L"#32770", L"Webcam")) ++warnings, PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void CALLBACK ApplyBottomRight(HWND, UINT, UINT_PTR timer, DWORD) {
    if (HWND settings = FindWindowW(L"SettingsDlg", L"General Settings")) {
        KillTimer(nullptr, timer);
        SendDlgItemMessageW(settings, 32, CB_SETCURSEL, 3, 0);
        SendMessageW(settings, WM_COMMAND, 20, 0);
    }
}

// Distances of the overlay from the screen's left, top, right and bottom edges, then its width and height.
std::array<long, 6> Placement() {
    RECT r{};
    GetWindowRect(WebcamOverlay::instance().window, &r);
    return {r.left, r.top, GetSystemMetrics(SM_CXSCREEN) - r.right, GetSystemMetrics(SM_CYSCREEN) - r.bottom,
            r.right - r.left, r.bottom - r.top};
}

class Webcam : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        WebcamOverlay::instance().close();
        WebcamOverlay::startPreview = StartCameraPreview;
    }
};

TEST_F(Webcam, EachCornerKeepsTwentyPixelsFromItsEdges) {
    WebcamOverlay::startPreview = PreviewStarts;
    WebcamOverlay& overlay = WebcamOverlay::instance();
    ASSERT_TRUE(overlay.open(0));
    for (auto [corner, left, top] : {std::tuple{0, true, true}, {1, false, true}, {2, true, false}, {3, false, false},
                                     {7, false, false}}) {
        overlay.placeInCorner(corner);
        const auto p = Placement();
        EXPECT_EQ((std::array<long, 4>{left ? p[0] : p[2], top ? p[1] : p[3], p[4], p[5]}),
                  (std::array<long, 4>{20, 20, 208, 158})) << "corner " << corner;
    }
    EXPECT_TRUE(GetWindowLongW(overlay.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(SendMessageW(overlay.window, WM_NCHITTEST, 0, MAKELPARAM(Placement()[0] + 2, Placement()[1] + 2)),
              HTCAPTION) << "the frame drags the overlay";
}

TEST_F(Webcam, ApplyInTheSettingsWindowMovesTheOpenOverlay) {
    WebcamOverlay::startPreview = PreviewStarts;
    HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP | WS_VISIBLE, 100, 100, 520, 310, nullptr, nullptr,
                                nullptr, nullptr);
    app.webcamOn = WebcamOverlay::instance().open(app.webcamCornerChoice);
    ASSERT_TRUE(app.webcamOn);
    ASSERT_EQ(Placement()[0], 20);
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, ApplyBottomRight);
    OpenSettingsWindow(main);
    KillTimer(nullptr, timer);
    EXPECT_EQ(app.webcamCornerChoice, 3);
    EXPECT_EQ(std::pair(Placement()[2], Placement()[3]), std::pair(20L, 20L));
    app.webcamOn = false;
    app.webcamCornerChoice = 0;
    DestroyWindow(main);
}

TEST_F(Webcam, CloseIsSafeToRepeatAndLeavesNothing) {
    WebcamOverlay::startPreview = PreviewStarts;
    WebcamOverlay& overlay = WebcamOverlay::instance();
    ASSERT_TRUE(overlay.open(1));
    HWND window = overlay.window;
    overlay.close();
    overlay.close();
    EXPECT_TRUE(!IsWindow(window) && !overlay.window && !overlay.running) << "closed";
    EXPECT_TRUE(overlay.open(2)) << "a fresh open after close";
}

TEST_F(Webcam, EachOpeningUndoesItsOwnComInitialisation) {
    WebcamOverlay::startPreview = PreviewStarts;
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        for (int corner = 0; corner < 3; ++corner) {
            EXPECT_TRUE(WebcamOverlay::instance().open(corner));
            WebcamOverlay::instance().close();
        }
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "COM was left initialised";
        CoUninitialize();
    }).join();
}

// The real graph on this machine, which has no camera: built up to the camera, and ended there.
TEST_F(Webcam, TheRealGraphWithoutACameraEndsAtTheCamera) {
    WebcamOverlay overlay;
    EXPECT_EQ(StartCameraPreview(overlay), VFW_E_NO_CAPTURE_HARDWARE);
    EXPECT_TRUE(overlay.graph && overlay.captureBuilder && !overlay.camera) << "not the camera's branch";
}

TEST_F(Webcam, AGraphThatWillNotRunIsTornDownWithTheWarningAndTheToggleOff) {
    WebcamOverlay::startPreview = GraphWillNotRun;
    HBITMAP on = CreateBitmap(1, 1, 1, 32, nullptr), dimmed = CreateBitmap(1, 1, 1, 32, nullptr);
    app.gdi.bmpWebcamOn.reset(on);
    app.gdi.bmpWebcamDimmed.reset(dimmed);
    app.webcamButton = CreateWindowExW(0, L"BUTTON", L"", WS_POPUP | BS_BITMAP, 0, 0, 48, 48, nullptr, nullptr,
                                       nullptr, nullptr);
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerWarning);
    DispatchMainCommand(nullptr, IDC_WEBCAM);
    KillTimer(nullptr, timer);
    const WebcamOverlay& overlay = WebcamOverlay::instance();
    EXPECT_EQ(warnings, 1);
    EXPECT_FALSE(app.webcamOn);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(app.webcamButton, BM_GETIMAGE, IMAGE_BITMAP, 0)), dimmed);
    EXPECT_TRUE(!overlay.graph && !overlay.window && !overlay.running) << "torn down";
    DestroyWindow(std::exchange(app.webcamButton, nullptr));
    app.gdi = MainWindowGdi{};
}

}  // namespace
