#include "app/SettingsWindow.h"

#include "app/AboutWindow.h"
#include "app/AppState.h"
#include "common/WinHandles.h"
#include "recording/audio/AudioDeviceList.h"
#include "ui/Controls.h"
#include "ui/DarkButton.h"
#include "ui/DarkTheme.h"
#include "ui/MessageLoop.h"
#include "ui/WindowClass.h"
#include "webcam/WebcamOverlay.h"

#include <algorithm>

namespace {

constexpr wchar_t kClassName[] = L"SettingsDlg";
constexpr wchar_t kTitle[] = L"General Settings";
constexpr int kWidth = 460;
constexpr int kHeight = 390;
constexpr COLORREF kField = RGB(62, 62, 68);
constexpr COLORREF kFieldText = RGB(230, 230, 230);
constexpr COLORREF kLabelText = RGB(220, 220, 220);

enum ControlId : int { IdApply = 20, IdClose = 21, IdResolution = 30, IdAudio = 31, IdCorner = 32 };

constexpr const wchar_t* kResolutions[] = {L"1080p  (1920\u00D71080)", L"2K  (2560\u00D71440)",
                                           L"4K  (3840\u00D72160)"};
constexpr const wchar_t* kCorners[] = {L"Top-Left", L"Top-Right", L"Bottom-Left", L"Bottom-Right"};

enum class Font { Body, Title };

struct SettingsControl {
    ChildControl control;
    Font font;
};
constexpr DWORD kList = WS_VSCROLL | CBS_DROPDOWNLIST;
constexpr SettingsControl kControls[] = {
    {{L"STATIC", L"\u2699  General Settings", SS_CENTER, 0, 14, 460, 24, 0}, Font::Title},
    {{L"STATIC", L"Recording Resolution", 0, 24, 80, 200, 16, 0}, Font::Body},
    {{L"COMBOBOX", L"", kList, 24, 98, 412, 120, IdResolution}, Font::Body},
    {{L"STATIC", L"Audio Device", 0, 24, 138, 200, 16, 0}, Font::Body},
    {{L"COMBOBOX", L"", kList, 24, 156, 412, 160, IdAudio}, Font::Body},
    {{L"STATIC", L"Webcam Position", 0, 24, 196, 200, 16, 0}, Font::Body},
    {{L"COMBOBOX", L"", kList, 24, 214, 412, 120, IdCorner}, Font::Body},
    {{L"BUTTON", L"Close", BS_OWNERDRAW, 196, 262, 100, 32, IdClose}, Font::Body},
    {{L"BUTTON", L"Apply Settings", BS_OWNERDRAW, 304, 262, 132, 32, IdApply}, Font::Title},
};

// Made once per process on first use and kept for its lifetime.
struct SettingsGdi {
    UniqueBrush background{CreateSolidBrush(kDarkBackground)};
    UniqueBrush field{CreateSolidBrush(kField)};
    UniqueFont body{MakeUiFont(14, FW_NORMAL)};
    UniqueFont title{MakeUiFont(16, FW_SEMIBOLD)};
};

SettingsGdi& Gdi() {
    static SettingsGdi gdi;
    return gdi;
}

// The one open settings window's slots: the record it edits and its three lists.
struct OpenSettings {
    HWND window = nullptr;
    SettingsState* state = nullptr;
    HWND resolutionList = nullptr;
    HWND audioList = nullptr;
    HWND cornerList = nullptr;
};
OpenSettings current;

HWND FillList(HWND list, const std::vector<const wchar_t*>& items, int32_t selected) {
    for (const wchar_t* item : items) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(list, CB_SETCURSEL, selected, 0);
    return list;
}

void CreateControls(HWND window, const SettingsState& state) {
    HWND lists[3] = {};
    int listIndex = 0;
    for (const SettingsControl& entry : kControls) {
        HWND control = MakeControl(window, entry.control, (entry.font == Font::Title ? Gdi().title : Gdi().body).get());
        if (entry.control.id >= IdResolution) lists[listIndex++] = control;
    }
    const int32_t resolutionCount = int32_t(std::size(kResolutions));
    current.resolutionList = FillList(lists[0], {std::begin(kResolutions), std::end(kResolutions)},
                                      std::clamp(state.resolution, 0, resolutionCount - 1));
    std::vector<const wchar_t*> audio{L"No Audio"};
    for (const AudioDevice& device : state.audioDevices) audio.push_back(device.name.c_str());
    audio.push_back(L"System sound");
    current.audioList = FillList(lists[1], audio, std::clamp(state.audioDevice, 0, int32_t(audio.size()) - 1));
    // The corner is shown as stored: a value outside the list selects nothing.
    current.cornerList = FillList(lists[2], {std::begin(kCorners), std::end(kCorners)}, state.webcamCorner);
}

// The audio list is "No Audio", the devices, "System sound"; a device chosen earlier that is
// gone now shows as "No Audio".
int32_t AudioListIndex(const SoundSource& source, const std::vector<AudioDevice>& devices) {
    if (source.kind == SoundSourceKind::SystemSound) return int32_t(devices.size()) + 1;
    for (size_t i = 0; i < devices.size(); ++i)
        if (source.kind == SoundSourceKind::Device && devices[i].endpointId == source.endpointId) return int32_t(i) + 1;
    return 0;
}

SoundSource AudioListSource(int32_t index, const std::vector<AudioDevice>& devices) {
    if (index <= 0) return {};
    if (size_t(index) > devices.size()) return {SoundSourceKind::SystemSound, L""};
    return {SoundSourceKind::Device, devices[size_t(index) - 1].endpointId};
}

int32_t Selection(HWND list) {
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    return index < 0 ? 0 : int32_t(index);
}

void Apply(HWND window) {
    if (!current.state) return;
    current.state->resolution = Selection(current.resolutionList);
    current.state->audioDevice = Selection(current.audioList);
    current.state->webcamCorner = Selection(current.cornerList);
    current.state->applied = true;
    DestroyWindow(window);
}

LRESULT CALLBACK SettingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    switch (message) {
    case WM_CREATE:
        current = OpenSettings{window, static_cast<SettingsState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)};
        if (current.state) CreateControls(window, *current.state);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IdApply) Apply(window);
        if (LOWORD(wParam) == IdClose) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        current = OpenSettings{};
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, Gdi().background.get());
        return 1;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_BUTTON) break;
        DrawDarkButton(*item);
        return 1;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        SetBkColor(dc, kField);
        SetTextColor(dc, kFieldText);
        return reinterpret_cast<LRESULT>(Gdi().field.get());
    case WM_CTLCOLORSTATIC:
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, kLabelText);
        return reinterpret_cast<LRESULT>(Gdi().background.get());
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterSettingsClass() {
    static bool registered = false;
    // The class keeps its brush for the process.
    if (!registered) registered = RegisterWindowClass(kClassName, SettingsProc, CreateSolidBrush(kDarkBackground));
}

}  // namespace

void OpenSettingsWindow(HWND mainWindow) {
    // The slots hold one window: a second opening would take them over, so it raises the open one.
    if (current.window) {
        SetForegroundWindow(current.window);
        return;
    }
    static SettingsState state;
    state.resolution = app.resolutionChoice;
    state.webcamCorner = app.webcamCornerChoice;
    state.applied = false;
    state.audioDevices = AudioDeviceList();
    state.audioDevice = AudioListIndex(app.soundSource, state.audioDevices);
    RegisterSettingsClass();
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, kClassName, kTitle, WS_POPUPWINDOW | WS_DLGFRAME,
                                  0, 0, kWidth, kHeight, mainWindow, nullptr, GetModuleHandleW(nullptr), &state);
    if (!window) return;  // no window would ever end the loop
    CentreOnMainWindow(window, mainWindow);
    ShowWindow(window, SW_SHOW);
    // A program-wide quit has destroyed the window with its owner; there is nothing to apply to.
    if (RunNestedLoop(window) != LoopEnd::WindowGone || AppQuitRequested() || !state.applied) return;
    app.resolutionChoice = state.resolution;
    app.soundSource = AudioListSource(state.audioDevice, state.audioDevices);
    app.webcamCornerChoice = state.webcamCorner;
    WebcamOverlay& overlay = WebcamOverlay::instance();
    if (app.webcamOn && overlay.running) overlay.placeInCorner(app.webcamCornerChoice);
}
