// The main window: its controls, its look and the dispatch of every command.
#include "app/MainWindow.h"

#include "app/AppState.h"
#include "app/ButtonStrip.h"
#include "app/images/ButtonImage.h"
#include "app/MainCommands.h"
#include "app/StatusDisplay.h"
#include "app/TrayIcon.h"
#include "recording/Recorder.h"
#include "resources/resource.h"
#include "ui/Controls.h"
#include "ui/DarkButton.h"
#include "ui/DarkTheme.h"
#include "ui/MessageLoop.h"
#include "update/UpdatePrompt.h"
#include "webcam/WebcamOverlay.h"

#include "Version.h"

#include <commctrl.h>

namespace {

constexpr COLORREF kStatusText = RGB(79, 70, 229);
constexpr COLORREF kLabelText = RGB(255, 255, 255);
constexpr wchar_t kFooterText[] = L"Zentrovia v" ZV_VERSION_TEXT;

// The eleven pictures, in the order they are made.
struct PictureSpec {
    UniqueBitmap MainWindowGdi::*field;
    WORD resource;
    float opacity;
};
constexpr PictureSpec kPictures[] = {
    {&MainWindowGdi::bmpRecord, IDP_RECORD, 1.0f},         {&MainWindowGdi::bmpPause, IDP_PAUSE, 1.0f},
    {&MainWindowGdi::bmpResume, IDP_RESUME, 1.0f},         {&MainWindowGdi::bmpStop, IDP_STOP, 1.0f},
    {&MainWindowGdi::bmpRegion, IDP_REGION, 1.0f},         {&MainWindowGdi::bmpFullScreen, IDP_FULLSCREEN, 1.0f},
    {&MainWindowGdi::bmpMicOn, IDP_MIC_ON, 1.0f},          {&MainWindowGdi::bmpMicOff, IDP_MIC_OFF, 1.0f},
    {&MainWindowGdi::bmpPauseDimmed, IDP_PAUSE, 0.3f},     {&MainWindowGdi::bmpWebcamOn, IDP_WEBCAM, 1.0f},
    {&MainWindowGdi::bmpWebcamDimmed, IDP_WEBCAM, 0.3f},
};

struct FontSpec {
    UniqueFont MainWindowGdi::*field;
    int height;
    int weight;
};
constexpr FontSpec kFontTitle{&MainWindowGdi::fontTitle, 24, FW_BOLD};
constexpr FontSpec kFontNormal{&MainWindowGdi::fontNormal, 14, FW_NORMAL};
constexpr FontSpec kFontSemibold{&MainWindowGdi::fontSemibold, 14, FW_SEMIBOLD};
constexpr FontSpec kFontSmall{&MainWindowGdi::fontSmall, 12, FW_NORMAL};
constexpr FontSpec kFontStatus{&MainWindowGdi::fontStatus, 22, FW_BOLD};

// The six image buttons, left to right along the strip.
struct ImageButtonSpec {
    HWND AppState::*field;
    int id;
    UniqueBitmap MainWindowGdi::*picture;
};
constexpr ImageButtonSpec kImageButtons[] = {
    {&AppState::recordButton, IDC_RECORD, &MainWindowGdi::bmpRecord},
    {&AppState::pauseButton, IDC_PAUSE, &MainWindowGdi::bmpPause},
    {&AppState::fullScreenButton, IDC_FULLSCREEN, &MainWindowGdi::bmpFullScreen},
    {&AppState::regionButton, IDC_REGION, &MainWindowGdi::bmpRegion},
    {&AppState::microphoneButton, IDC_MICROPHONE, &MainWindowGdi::bmpMicOn},
    {&AppState::webcamButton, IDC_WEBCAM, &MainWindowGdi::bmpWebcamDimmed},
};
constexpr int kImageButtonCount = sizeof(kImageButtons) / sizeof(kImageButtons[0]);
constexpr int kImageButtonY = 60;
constexpr DWORD kImageButtonStyle = WS_CHILD | WS_VISIBLE | BS_BITMAP | BS_FLAT;

// The other controls, with their font and the field that keeps them; text null means "the output folder".
struct MainControl {
    ChildControl control;
    UniqueFont MainWindowGdi::*font;
    HWND AppState::*field;  // null when the window is not kept
};
constexpr MainControl kTitleLabel{{L"STATIC", L"Zentrovia", SS_CENTER | SS_CENTERIMAGE, 0, 10, 500, 32, 0},
                                  &MainWindowGdi::fontTitle, nullptr};
constexpr MainControl kFolderCaption{{L"STATIC", L"Output Folder:", 0, 30, 130, 100, 20, 0}, &MainWindowGdi::fontNormal,
                                     nullptr};
constexpr MainControl kFolderEdit{{L"EDIT", nullptr, WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 130, 128, 280, 24,
                                   IDC_FOLDER},
                                  &MainWindowGdi::fontNormal, &AppState::folderEdit};
constexpr MainControl kBrowseButton{{L"BUTTON", L"Browse...", BS_OWNERDRAW, 420, 128, 70, 24, IDC_BROWSE},
                                    &MainWindowGdi::fontNormal, &AppState::browseButton};
constexpr MainControl kStatusLabel{{L"STATIC", L"Ready to Record", SS_CENTER, 0, 170, 500, 30, IDC_STATUS},
                                   &MainWindowGdi::fontStatus, &AppState::statusLabel};
constexpr MainControl kFooterLabel{{L"STATIC", kFooterText, SS_CENTER, 0, 205, 500, 18, 0}, &MainWindowGdi::fontSmall,
                                   nullptr};

void MakeFont(const FontSpec& entry) { (app.gdi.*entry.field).reset(MakeUiFont(entry.height, entry.weight)); }

void MakeMainControl(HWND parent, const MainControl& entry) {
    const wchar_t* text = entry.control.text ? nullptr : app.outputFolder.c_str();
    HWND control = MakeControl(parent, entry.control, (app.gdi.*entry.font).get(), text);
    if (entry.field) app.*entry.field = control;
}

void MakeImageButtons(HWND parent) {
    for (int i = 0; i < kImageButtonCount; ++i) {
        const ImageButtonSpec& entry = kImageButtons[i];
        HWND button = CreateWindowExW(0, L"BUTTON", L"", kImageButtonStyle, StripButtonX(i + 1, kImageButtonCount),
                                      kImageButtonY, kImageButtonSize, kImageButtonSize, parent,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), app.moduleInstance,
                                      nullptr);
        app.*entry.field = button;
        attachButtonImage(button, (app.gdi.*entry.picture).get());
    }
}

// "General Settings..." and a separator go in above "E&xit".
void ExtendFileMenu(HWND window) {
    HMENU fileMenu = GetSubMenu(GetMenu(window), 0);
    if (!fileMenu) return;
    const int k = GetMenuItemCount(fileMenu);
    InsertMenuW(fileMenu, k - 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuW(fileMenu, k - 1, MF_BYPOSITION | MF_STRING, IDM_SETTINGS, L"General Settings...");
    DrawMenuBar(window);
}

void OnCreate(HWND window) {
    InitCommonControls();
    for (const PictureSpec& picture : kPictures)
        (app.gdi.*picture.field).reset(makeButtonImage(picture.resource, picture.opacity));
    app.gdi.backgroundBrush.reset(CreateSolidBrush(kDarkBackground));
    MakeFont(kFontTitle);
    MakeFont(kFontNormal);
    MakeFont(kFontSemibold);
    MakeFont(kFontSmall);
    MakeMainControl(window, kTitleLabel);
    ExtendFileMenu(window);
    MakeImageButtons(window);
    MakeMainControl(window, kFolderCaption);
    CreateDirectoryW(app.outputFolder.c_str(), nullptr);
    MakeMainControl(window, kFolderEdit);
    MakeMainControl(window, kBrowseButton);
    MakeFont(kFontStatus);
    MakeMainControl(window, kStatusLabel);
    MakeMainControl(window, kFooterLabel);
    CreateTrayIcon(window);
    RefreshRecordingUi(window);
}

void OnDestroy(HWND window) {
    KillTimer(window, TIMER_DURATION);
    DestroyTrayIcon();
    app.gdi = MainWindowGdi{};  // fonts, brush, pictures, in that order
    CloseWebcamOverlay();
    if (app.recorder) {
        StopAndReport(nullptr);  // the window is going: the box has no owner
        DiscardRecorder(app.recorder);
        app.recorder = nullptr;
    }
    app.mainWindow = nullptr;
    PostAppQuit(0);
}

LRESULT OnEraseBackground(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, app.gdi.backgroundBrush.get());
    return 1;
}

LRESULT OnControlColour(HWND control, HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, control == app.statusLabel ? kStatusText : kLabelText);
    return reinterpret_cast<LRESULT>(app.gdi.backgroundBrush.get());
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_SIZE:
        // Minimising leaves only the tray icon.
        if (wParam == SIZE_MINIMIZED) ShowWindow(window, SW_HIDE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_BUTTON) return 0;
        DrawDarkButton(*item);
        return TRUE;
    }
    case WM_COMMAND:
        if (DispatchMainCommand(window, LOWORD(wParam))) return 0;
        break;
    case WM_TIMER:
        OnDurationTick(window, wParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        return OnControlColour(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(app.gdi.backgroundBrush.get());
    case WM_TRAYICON:
        return HandleTrayMessage(lParam);
    case WM_RECORDING_ENDED:
        StopAndReport(window);
        RefreshRecordingUi(window);
        return 0;
    case WM_WEBCAM_CLOSED:
        if (app.webcamOn) DispatchMainCommand(window, IDC_WEBCAM);
        return 0;
    case WM_UPDATE_AVAILABLE:
        ShowUpdatePrompt(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CloseMainWindowAfterQuit() {
    if (app.mainWindow && IsWindow(app.mainWindow)) DestroyWindow(app.mainWindow);
}
