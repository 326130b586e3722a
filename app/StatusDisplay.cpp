#include "app/StatusDisplay.h"

#include "app/AppState.h"
#include "app/DurationText.h"
#include "app/images/ButtonImage.h"
#include "app/TrayIcon.h"
#include "recording/Recorder.h"
#include "resources/resource.h"

namespace {

constexpr UINT kDurationPeriodMs = 1000;
constexpr wchar_t kRecordingPrefix[] = L"Recording: ";

}  // namespace

void RefreshRecordingUi(HWND mainWindow) {
    if (!app.recorder) return;
    const auto state = static_cast<RecorderState>(app.recorder->state.load());
    const MainWindowGdi& gdi = app.gdi;
    SetButtonPicture(app.recordButton, (state == Ready ? gdi.bmpRecord : gdi.bmpStop).get());
    SetButtonPicture(app.pauseButton, (state == Ready    ? gdi.bmpPauseDimmed
                                       : state == Paused ? gdi.bmpResume
                                                         : gdi.bmpPause).get());
    EnableWindow(app.microphoneButton, TRUE);
    EnableWindow(app.browseButton, state == Ready);
    EnableWindow(app.folderEdit, state == Ready);

    std::wstring status;
    const wchar_t* tip = kTrayTipReady;
    if (state == Recording) {
        if (app.durationStartTick == 0) {
            app.durationStartTick = GetTickCount();
            SetTimer(mainWindow, TIMER_DURATION, kDurationPeriodMs, nullptr);
        }
        if (app.durationPauseTick != 0) {  // back from a pause
            app.durationPausedMs += GetTickCount() - app.durationPauseTick;
            app.durationPauseTick = 0;
            SetTimer(mainWindow, TIMER_DURATION, kDurationPeriodMs, nullptr);
        }
        const uint32_t elapsed = ElapsedRecordingMs(GetTickCount(), app.durationStartTick, app.durationPausedMs);
        app.recordingText = kRecordingPrefix + FormatDuration(elapsed);
        status = app.recordingText;
        tip = kTrayTipRecording;
    } else if (state == Paused) {
        if (app.durationPauseTick == 0) app.durationPauseTick = GetTickCount();
        KillTimer(mainWindow, TIMER_DURATION);
        if (app.durationStartTick != 0 && app.durationPauseTick != 0) {
            const uint32_t shown =
                ElapsedAtPauseMs(app.durationPauseTick, app.durationStartTick, app.durationPausedMs);
            app.pausedText = kRecordingPrefix + FormatDuration(shown);
            status = app.pausedText;
        } else {
            status = L"Recording Paused";
        }
        tip = kTrayTipPaused;
    } else {
        KillTimer(mainWindow, TIMER_DURATION);
        app.durationStartTick = 0;
        app.durationPausedMs = 0;
        app.durationPauseTick = 0;
        status = L"Ready to Record";
    }
    SetWindowTextW(app.statusLabel, status.c_str());
    if (app.tray) SetTrayTip(*app.tray, tip);
}

void OnDurationTick(HWND, WPARAM timerId) {
    if (timerId != TIMER_DURATION || app.durationStartTick == 0) return;
    const std::wstring text =
        FormatDuration(ElapsedRecordingMs(GetTickCount(), app.durationStartTick, app.durationPausedMs));
    if (app.tray) SetTrayDuration(*app.tray, (L"Duration: " + text).c_str());
    SetWindowTextW(app.statusLabel, (kRecordingPrefix + text).c_str());
}
