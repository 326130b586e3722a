// The main window's command table: buttons, menu bar, accelerators and tray menu.
#include "app/MainCommands.h"

#include "app/AboutWindow.h"
#include "app/AppState.h"
#include "app/images/ButtonImage.h"
#include "app/RecordingFailure.h"
#include "app/SettingsWindow.h"
#include "app/StatusDisplay.h"
#include "recording/Recorder.h"
#include "recording/RecordingName.h"
#include "region/RegionSelector.h"
#include "resources/resource.h"
#include "ui/MessageLoop.h"
#include "webcam/WebcamOverlay.h"

#include <shlobj.h>

namespace {

constexpr int kPathCapacity = 260;

bool RecorderReady() { return app.recorder && app.recorder->state.load() == Ready; }

std::wstring FolderBoxText() {
    wchar_t folder[kPathCapacity] = {};
    GetWindowTextW(app.folderEdit, folder, kPathCapacity);
    return folder;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void StartFromMainWindow(HWND window) {
    const std::wstring folder = FolderBoxText();
    SYSTEMTIME now;
    GetLocalTime(&now);
    const StartTime start{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    // Never replace an earlier recording, e.g. one started within the same second.
    const std::wstring path = FreeRecordingPath(folder, start, FileExists);
    const bool folderMade = CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    const HRESULT folderFailure = folderMade ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    app.durationStartTick = 0;
    // Record that cannot start says why, in one box; the state stays Ready.
    if (FAILED(folderFailure)) return ShowRecordingFailure(window, FailureMoment::Starting, folder, folderFailure);
    if (path.empty())
        return ShowRecordingFailure(window, FailureMoment::Starting, folder, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    const CaptureRegion& region = app.selectedRegion;
    app.recorder->notifyWindow = window;
    app.recorder->notifyMessage = WM_RECORDING_ENDED;
    app.recorder->soundSource = app.soundSource;
    app.recorder->soundMuted = !app.microphoneOn;
    HRESULT failure = S_OK;
    if (!StartRecording(*app.recorder, region.x, region.y, region.width, region.height, path, &failure))
        ShowRecordingFailure(window, FailureMoment::Starting, path, failure);
    else if (FAILED(app.recorder->soundStartFailure)) {
        RefreshRecordingUi(window);  // the recording runs while the box is open
        ShowSoundMessage(window, SoundStartFailureText(app.recorder->soundStartFailure));
    }
}

void OnRecord(HWND window) {
    if (!app.recorder) return;
    if (app.recorder->state.load() != Ready) {
        StopAndReport(window);
    } else {
        StartFromMainWindow(window);
    }
    RefreshRecordingUi(window);
}

void OnPause(HWND window) {
    if (!app.recorder) return;
    const auto state = app.recorder->state.load();
    if (state == Recording)
        PauseRecording(*app.recorder);
    else if (state == Paused)
        ResumeRecording(*app.recorder);
    RefreshRecordingUi(window);
}

void OnFullScreen(HWND window) {
    if (!RecorderReady()) return;
    app.selectedRegion = FullScreenRegion();
    RefreshRecordingUi(window);
}

void OnRegion(HWND window) {
    if (!RecorderReady()) return;
    ShowWindow(window, SW_HIDE);
    Sleep(100);  // the main window is off the screen before the selector covers it
    RegionSelector selector;
    if (selector.run()) {
        const RECT& chosen = selector.selection;
        app.selectedRegion = {chosen.left, chosen.top, chosen.right - chosen.left, chosen.bottom - chosen.top};
    }
    if (AppQuitRequested()) return;  // the main window is gone
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    RefreshRecordingUi(window);
}

void OnWebcam(HWND window) {
    WebcamOverlay& overlay = WebcamOverlay::instance();
    app.webcamOn = !app.webcamOn;
    if (app.webcamOn)
        app.webcamOn = overlay.open(app.webcamCornerChoice, window);
    else
        overlay.close();
    if (app.webcamButton)
        SetButtonPicture(app.webcamButton, (app.webcamOn ? app.gdi.bmpWebcamOn : app.gdi.bmpWebcamDimmed).get());
}

void OnAbout(HWND window) { OpenAboutWindow(window); }

void OnSettings(HWND window) { OpenSettingsWindow(window); }

void OnMicrophone(HWND) {
    app.microphoneOn = !app.microphoneOn;
    // During a recording too: the switch mutes the sound from now on.
    if (app.recorder) SetRecordingMuted(*app.recorder, !app.microphoneOn);
    SetButtonPicture(app.microphoneButton, (app.microphoneOn ? app.gdi.bmpMicOn : app.gdi.bmpMicOff).get());
}

void OnBrowse(HWND window) {
    BROWSEINFOW info{};
    info.hwndOwner = window;
    info.lpszTitle = L"Select Output Folder";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    UniqueTaskMemory<PIDLIST_ABSOLUTE> chosen(SHBrowseForFolderW(&info));
    if (!chosen) return;
    wchar_t path[kPathCapacity] = {};
    if (SHGetPathFromIDListW(chosen.get(), path)) {
        SetWindowTextW(app.folderEdit, path);
        app.outputFolder = path;
    }
}

void OnExit(HWND window) { DestroyWindow(window); }

void OnTrayShow(HWND window) {
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void OnTrayHide(HWND window) { ShowWindow(window, SW_HIDE); }

struct CommandEntry {
    WORD id;
    void (*run)(HWND);
};

constexpr CommandEntry kCommands[] = {
    {IDM_ABOUT, OnAbout},                {IDM_EXIT, OnExit},
    {IDM_TRAY_EXIT, OnExit},            {IDC_RECORD, OnRecord},
    {IDC_PAUSE, OnPause},               {IDC_REGION, OnRegion},
    {IDC_FULLSCREEN, OnFullScreen},     {IDC_MICROPHONE, OnMicrophone},
    {IDC_BROWSE, OnBrowse},             {IDC_WEBCAM, OnWebcam},
    {IDM_TRAY_SHOW, OnTrayShow},        {IDM_TRAY_HIDE, OnTrayHide},
    {IDM_SETTINGS, OnSettings},
};

}  // namespace

void StopAndReport(HWND window) {
    if (!app.recorder) return;
    const HRESULT failure = app.recorder->stop();
    app.durationStartTick = 0;
    if (FAILED(failure))
        ShowRecordingFailure(window, FailureMoment::Recording, app.recorder->outputPath, failure,
                             SUCCEEDED(app.recorder->finalizeResult));
    const int64_t soundMissingFromMs = app.recorder->soundMissingFromMs.load();
    if (soundMissingFromMs >= 0)
        ShowSoundMessage(window, SoundLostText(app.recorder->outputPath, soundMissingFromMs));
}

bool DispatchMainCommand(HWND mainWindow, WORD id) {
    for (const CommandEntry& command : kCommands) {
        if (command.id == id) {
            command.run(mainWindow);
            return true;
        }
    }
    return false;
}
