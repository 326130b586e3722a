// The main window's shell in process: what RefreshRecordingUi and the duration tick show in
// each state, the tray data they keep, the microphone toggle, and the tear-down.
#include "app/AppState.h"
#include "app/MainCommands.h"
#include "app/MainWindow.h"
#include "app/StatusDisplay.h"
#include "app/TrayIcon.h"
#include "recording/Recorder.h"
#include "ShellTestSupport.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring TrayMenuLine(int position) {
    wchar_t text[64] = {};
    GetMenuStringW(app.tray->menu.get(), position, text, 64, MF_BYPOSITION);
    return text;
}

HBITMAP ButtonPicture(HWND button) {
    return reinterpret_cast<HBITMAP>(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0));
}

class MainWindowShell : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PrepareMainWindowClass(L"ZENTROVIA_SHELL_TEST"); }

    void SetUp() override {
        app = AppState{};
        app.moduleInstance = GetModuleHandleW(nullptr);
        app.recorder = new Recorder();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        app.outputFolder = std::wstring(temp) + L"ZentroviaShellTest";
        window_ = CreateWindowExW(0, L"ZENTROVIA_SHELL_TEST", L"zentrovia", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  0, 0, 520, 310, nullptr, nullptr, app.moduleInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        app.mainWindow = window_;
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}  // the quit the tear-down posts
    }
    void setState(RecorderState state) {
        app.recorder->state = state;
        RefreshRecordingUi(window_);
    }

    HWND window_ = nullptr;
};

TEST_F(MainWindowShell, CreationBuildsPicturesControlsMenuAndTray) {
    const UniqueBitmap MainWindowGdi::*pictures[] = {&MainWindowGdi::bmpRecord,  &MainWindowGdi::bmpPause,       &MainWindowGdi::bmpResume,
                                           &MainWindowGdi::bmpStop,    &MainWindowGdi::bmpRegion,      &MainWindowGdi::bmpFullScreen,
                                           &MainWindowGdi::bmpMicOn,   &MainWindowGdi::bmpMicOff,      &MainWindowGdi::bmpPauseDimmed,
                                           &MainWindowGdi::bmpWebcamOn, &MainWindowGdi::bmpWebcamDimmed};
    for (auto picture : pictures) EXPECT_TRUE(app.gdi.*picture);
    EXPECT_EQ(Text(app.statusLabel), L"Ready to Record");
    EXPECT_EQ(Text(app.folderEdit), app.outputFolder);
    EXPECT_EQ(ButtonPicture(app.recordButton), app.gdi.bmpRecord.get());
    EXPECT_EQ(ButtonPicture(app.pauseButton), app.gdi.bmpPauseDimmed.get());
    EXPECT_EQ(ButtonPicture(app.webcamButton), app.gdi.bmpWebcamDimmed.get());
    EXPECT_NE(GetFileAttributesW(app.outputFolder.c_str()), INVALID_FILE_ATTRIBUTES) << "folder created";
    // "General Settings...", a separator, then "E&xit".
    HMENU file = GetSubMenu(GetMenu(window_), 0);
    ASSERT_EQ(GetMenuItemCount(file), 3);
    EXPECT_EQ(GetMenuItemID(file, 0), UINT(IDM_SETTINGS));
    EXPECT_EQ(GetMenuItemID(file, 2), UINT(IDM_EXIT));
    ASSERT_NE(app.tray, nullptr);
    ASSERT_NE(app.tray->menu.get(), nullptr);
    EXPECT_EQ(GetMenuItemCount(app.tray->menu.get()), 6);
    EXPECT_EQ(TrayMenuLine(3), L"Duration: 00:00:00");
    EXPECT_EQ(GetMenuState(app.tray->menu.get(), 3, MF_BYPOSITION) & MF_GRAYED, UINT(MF_GRAYED));
    EXPECT_TRUE(app.tray->added) << "the notification area took the icon";
    EXPECT_EQ(std::wstring(app.tray->data.szTip), L"Zentrovia - Ready");
    EXPECT_EQ(app.tray->data.uCallbackMessage, UINT(WM_TRAYICON));
    EXPECT_EQ(app.tray->data.uID, 1u);
}

TEST_F(MainWindowShell, StatusFollowsTheRecordingAndLeavesPausesOut) {
    setState(Recording);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:00");
    EXPECT_EQ(ButtonPicture(app.recordButton), app.gdi.bmpStop.get());
    EXPECT_EQ(ButtonPicture(app.pauseButton), app.gdi.bmpPause.get());
    EXPECT_FALSE(IsWindowEnabled(app.browseButton));
    EXPECT_FALSE(IsWindowEnabled(app.folderEdit));
    EXPECT_TRUE(IsWindowEnabled(app.microphoneButton));
    EXPECT_EQ(std::wstring(app.tray->data.szTip), L"Zentrovia - Recording");
    EXPECT_EQ(app.tray->data.uFlags, UINT(NIF_TIP)) << "later changes send the tip alone";

    // Pretend the recording started 10 s ago, then pause it.
    app.durationStartTick = GetTickCount() - 10'000;
    OnDurationTick(window_, TIMER_DURATION);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:10");
    EXPECT_EQ(TrayMenuLine(3), L"Duration: 00:00:10");
    setState(Paused);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:10");
    EXPECT_EQ(ButtonPicture(app.pauseButton), app.gdi.bmpResume.get());
    EXPECT_EQ(ButtonPicture(app.recordButton), app.gdi.bmpStop.get());
    EXPECT_EQ(std::wstring(app.tray->data.szTip), L"Zentrovia - Paused");
    const uint32_t pauseTick = app.durationPauseTick;
    EXPECT_NE(pauseTick, 0u);
    setState(Paused);  // a second refresh in the same pause keeps its start
    EXPECT_EQ(app.durationPauseTick, pauseTick);

    // Five seconds of pause, then resume: the pause is not counted.
    app.durationPauseTick -= 5'000;
    app.durationStartTick -= 5'000;
    setState(Recording);
    EXPECT_EQ(app.durationPauseTick, 0u);
    EXPECT_GE(app.durationPausedMs, 5'000u);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:10");

    setState(Ready);
    EXPECT_EQ(Text(app.statusLabel), L"Ready to Record");
    EXPECT_EQ(std::wstring(app.tray->data.szTip), L"Zentrovia - Ready");
    EXPECT_EQ(app.durationStartTick, 0u);
    EXPECT_EQ(app.durationPausedMs, 0u);
    EXPECT_TRUE(IsWindowEnabled(app.browseButton));
    EXPECT_EQ(ButtonPicture(app.pauseButton), app.gdi.bmpPauseDimmed.get());
    // The tray keeps its last duration line; the tick does nothing once the clock stopped.
    EXPECT_EQ(TrayMenuLine(3), L"Duration: 00:00:10");
    OnDurationTick(window_, TIMER_DURATION);
    EXPECT_EQ(Text(app.statusLabel), L"Ready to Record");
}

TEST_F(MainWindowShell, PausedWithoutARunningClockSaysSo) {
    app.recorder->state = Paused;
    app.durationStartTick = 0;
    RefreshRecordingUi(window_);
    EXPECT_EQ(Text(app.statusLabel), L"Recording Paused");
    app.recorder->state = Ready;
}

TEST_F(MainWindowShell, TickOnlyForItsOwnTimer) {
    setState(Recording);
    app.durationStartTick = GetTickCount() - 3'000;
    OnDurationTick(window_, 42);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:00");
    OnDurationTick(window_, TIMER_DURATION);
    EXPECT_EQ(Text(app.statusLabel), L"Recording: 00:00:03");
    setState(Ready);
}

TEST_F(MainWindowShell, MicrophoneToggleSwapsOnlyItsPicture) {
    EXPECT_TRUE(app.microphoneOn);
    const std::wstring status = Text(app.statusLabel);
    EXPECT_TRUE(DispatchMainCommand(window_, IDC_MICROPHONE));
    EXPECT_FALSE(app.microphoneOn);
    EXPECT_EQ(ButtonPicture(app.microphoneButton), app.gdi.bmpMicOff.get());
    EXPECT_EQ(Text(app.statusLabel), status);
    DispatchMainCommand(window_, IDC_MICROPHONE);
    EXPECT_EQ(ButtonPicture(app.microphoneButton), app.gdi.bmpMicOn.get());
}

TEST_F(MainWindowShell, RegionCommandsOnlyWhileReady) {
    app.selectedRegion = {5, 5, 100, 100};
    app.recorder->state = Recording;
    DispatchMainCommand(window_, IDC_FULLSCREEN);
    EXPECT_EQ(app.selectedRegion.width, 100);
    app.recorder->state = Ready;
    DispatchMainCommand(window_, IDC_FULLSCREEN);
    EXPECT_EQ(app.selectedRegion.x, 0);
    EXPECT_EQ(app.selectedRegion.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(app.selectedRegion.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_FALSE(DispatchMainCommand(window_, 4242)) << "unknown ids go to DefWindowProc";
}

TEST_F(MainWindowShell, DestructionReleasesEverythingAndAsksTheProgramToEnd) {
    DestroyWindow(window_);
    EXPECT_EQ(app.tray, nullptr);
    EXPECT_EQ(app.recorder, nullptr);
    EXPECT_FALSE(app.gdi.fontTitle);
    EXPECT_FALSE(app.gdi.backgroundBrush);
    EXPECT_FALSE(app.gdi.bmpRecord);
    EXPECT_FALSE(app.gdi.bmpWebcamDimmed);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit message is posted";
}

}  // namespace
