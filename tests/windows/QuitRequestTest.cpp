// One quit request shared by the main loop and the nested loops of the secondary windows:
// the program ends however it is asked to, a running recording is finalized and the tray
// icon goes, and a quit passes outward through every loop once. (That closing a secondary
// window ends only its own loop, the update journeys show.)
#include "app/AppState.h"
#include "app/MainCommands.h"
#include "app/MainWindow.h"
#include "FakeSinkWriter.h"
#include "recording/mediafoundation/SinkWriterFactory.h"
#include "recording/Recorder.h"
#include "resources/resource.h"
#include "ui/MessageLoop.h"
#include "webcam/WebcamOverlay.h"

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

namespace {

FakeSinkWriterScript* script = nullptr;
HRESULT CreateScriptedFake(const wchar_t*, IMFSinkWriter** writer) { return CreateFakeSinkWriter(*script, writer); }

constexpr UINT_PTR kActionTimer = 77;

void (*timerAction)() = nullptr;
VOID CALLBACK RunTimerAction(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (timerAction) timerAction();
}

// Whether the notification area still knew the icon once the main window had handled its WM_DESTROY,
// asked while the window still exists (Wine drops the icons of a destroyed window by itself).
bool iconOutlivedWindow = false;
LRESULT CALLBACK AskingMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DESTROY || !app.tray) return MainWindowProc(window, message, wParam, lParam);
    NOTIFYICONDATAW icon = app.tray->data;
    const LRESULT result = MainWindowProc(window, message, wParam, lParam);
    icon.uFlags = NIF_TIP;
    iconOutlivedWindow = Shell_NotifyIconW(NIM_MODIFY, &icon);
    return result;
}

class QuitRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Left running: the process ends soon after the tests anyway.
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        // The real main window procedure with the real menu.
        WNDCLASSEXW wc{sizeof(wc), 0, AskingMainWindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr,
                       MAKEINTRESOURCEW(IDC_ZENTROVIA), L"ZENTROVIA_QUIT_TEST", nullptr};
        RegisterClassExW(&wc);
    }

    void SetUp() override {
        saved_ = sinkWriterFactories;
        script = &script_;
        sinkWriterFactories = {CreateScriptedFake, nullptr};
        app = AppState{};
        iconOutlivedWindow = true;
        app.moduleInstance = GetModuleHandleW(nullptr);
        app.recorder = new Recorder();
        app.mainWindow = CreateWindowExW(0, L"ZENTROVIA_QUIT_TEST", L"zentrovia", WS_CAPTION | WS_SYSMENU, 0, 0, 520,
                                         310, nullptr, nullptr, app.moduleInstance, nullptr);
        ASSERT_NE(app.mainWindow, nullptr);
        // Asked of the notification area itself, which changes only an icon it shows. (Wine drops the
        // icons of a destroyed window by itself, so the same question after the quit would prove nothing.)
        NOTIFYICONDATAW icon = app.tray ? app.tray->data : NOTIFYICONDATAW{};
        icon.uFlags = NIF_TIP;
        ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon)) << "the notification area does not show the icon";
        ASSERT_TRUE(StartRecording(*app.recorder, 0, 0, 64, 64, L"C:\\unused.mp4"));
    }
    void TearDown() override {
        CloseMainWindowAfterQuit();
        // Serve the quit the window's destruction asked for, so the next test starts afresh.
        if (AppQuitRequested()) RunMainLoop(nullptr);
        sinkWriterFactories = saved_;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    }
    void expectRecordingClosed() {
        EXPECT_TRUE(script_.finalized.load()) << "the recording was not finalized";
        EXPECT_EQ(script_.liveObjects.load(), 0);
        EXPECT_FALSE(iconOutlivedWindow) << "the tray icon was not removed";
        EXPECT_EQ(app.recorder, nullptr);
    }

    SinkWriterFactories saved_{};
    FakeSinkWriterScript script_;
};

TEST_F(QuitRequest, DestroyingTheMainWindowDuringANestedLoopEndsTheProgram) {
    // The tray menu's "Exit" while a modal window of the main window runs its own loop.
    HWND modal = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 8, 8, app.mainWindow, nullptr, nullptr, nullptr);
    timerAction = [] { PostMessageW(app.mainWindow, WM_COMMAND, IDM_TRAY_EXIT, 0); };
    SetTimer(nullptr, kActionTimer, 50, RunTimerAction);
    EXPECT_EQ(RunNestedLoop(modal), LoopEnd::WindowGone) << "the modal window goes with its owner";
    EXPECT_TRUE(AppQuitRequested());
    expectRecordingClosed();
    // The main loop sees the quit left for it and ends at once.
    EXPECT_EQ(RunMainLoop(nullptr), 0);
}

TEST_F(QuitRequest, QuitWithoutDestroyingTheMainWindowStillClosesTheRecording) {
    // The update path ends the program by a quit request alone.
    PostAppQuit(0);
    EXPECT_EQ(RunMainLoop(nullptr), 0);
    EXPECT_TRUE(IsWindow(app.mainWindow));
    CloseMainWindowAfterQuit();
    expectRecordingClosed();
}

TEST_F(QuitRequest, ClosingTheWebcamOverlayIsSwitchingTheWebcamOff) {
    // Alt+F4 on the overlay: the main window hears of it and switches the webcam off.
    WebcamOverlay::startPreview = [](WebcamOverlay&) { return S_OK; };
    DispatchMainCommand(app.mainWindow, IDC_WEBCAM);
    WebcamOverlay& overlay = WebcamOverlay::instance();
    ASSERT_TRUE(app.webcamOn && overlay.running);
    HWND window = overlay.window;
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    for (MSG msg; app.webcamOn && GetTickCount64() < deadline;)
        PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) ? void(DispatchMessageW(&msg)) : Sleep(10);
    EXPECT_TRUE(!app.webcamOn && !overlay.running && !overlay.graph && !IsWindow(window)) << "still on";
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(app.webcamButton, BM_GETIMAGE, IMAGE_BITMAP, 0)),
              app.gdi.bmpWebcamDimmed.get());
    WebcamOverlay::startPreview = StartCameraPreview;
}

TEST_F(QuitRequest, AQuitEndsEveryNestedLoopOnTheWayOutAndReachesTheMainLoopOnce) {
    // A quit arrives in a loop opened from another modal window's loop.
    static HWND outer, inner;
    outer = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    inner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    timerAction = [] {
        PostQuitMessage(3);
        EXPECT_EQ(RunNestedLoop(inner), LoopEnd::Quitting);
    };
    SetTimer(nullptr, kActionTimer, 50, RunTimerAction);
    EXPECT_EQ(RunNestedLoop(outer), LoopEnd::Quitting);
    EXPECT_TRUE(AppQuitRequested() && IsWindow(outer) && IsWindow(inner)) << "a quit destroys no window itself";
    EXPECT_EQ(RunMainLoop(nullptr), 3);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was passed on once";
    DestroyWindow(inner);
    DestroyWindow(outer);
}

}  // namespace
