// Entry point: single instance, start-up, the message loop and the last steps of shutdown.
#include "app/AppState.h"
#include "app/MainWindow.h"
#include "common/WinHandles.h"
#include "recording/Recorder.h"
#include "resources/resource.h"
#include "ui/MessageLoop.h"
#include "update/UpdateCheck.h"

#include <shlobj.h>
#include <gdiplus.h>

namespace {

constexpr wchar_t kMutexName[] = L"Zentrovia_SingleInstance_9F3A";
constexpr wchar_t kAlreadyRunningText[] =
    L"Zentrovia is already running.\nCheck the system tray (bottom-right corner).";
constexpr int kMainWidth = 520;
constexpr int kMainHeight = 310;
constexpr DWORD kMainStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // 0xCA0000

// The second instance brings the first forward and explains itself.
void ShowAlreadyRunning(HINSTANCE instance) {
    if (HWND running = FindWindowW(nullptr, L"Zentrovia")) {
        ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
    }
    WNDCLASSEXW helperClass{};
    helperClass.cbSize = sizeof(helperClass);
    helperClass.lpfnWndProc = DefWindowProcW;
    helperClass.hInstance = instance;
    helperClass.lpszClassName = L"_ZV_TopHelper";
    RegisterClassExW(&helperClass);
    // Never shown: a topmost owner so the message box comes to the front.
    UniqueWindow helper(CreateWindowExW(WS_EX_TOPMOST, L"_ZV_TopHelper", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                        nullptr, instance, nullptr));
    MessageBoxW(helper.get(), kAlreadyRunningText, L"Zentrovia", MB_ICONINFORMATION);
}

std::wstring DefaultOutputFolder() {
    UniqueTaskMemory<PWSTR> pictures;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, pictures.put())))
        return std::wstring(pictures.get()) + L"\\Zentrovia";
    wchar_t profile[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return std::wstring(profile) + L"\\Pictures\\Zentrovia";
    // No profile either: the temporary folder is at least writable.
    wchar_t temp[MAX_PATH + 1] = {};
    length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return L"C:\\Zentrovia";
    return std::wstring(temp) + L"Zentrovia";
}

void RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_ZENTROVIA));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_ZENTROVIA);
    wc.lpszClassName = app.className;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&wc);
}

}  // namespace

BOOL InitInstance(HINSTANCE instance, int showCommand) {
    app.moduleInstance = instance;
    app.recorder = new Recorder();
    app.outputFolder = DefaultOutputFolder();
    app.selectedRegion = FullScreenRegion();

    HWND window = CreateWindowExW(0, app.className, app.titleText, kMainStyle, CW_USEDEFAULT, 0, kMainWidth,
                                  kMainHeight, nullptr, nullptr, instance, nullptr);
    if (!window) return FALSE;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    app.mainWindow = window;

    // Nothing waits for the check: its handle is closed on the way out.
    UniqueKernelHandle checkThread(CreateThread(nullptr, 0, UpdateCheckThread, window, 0, nullptr));
    return TRUE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Whatever is loaded at run time, by us or by a system DLL on our behalf, comes from the
    // system folder, never from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Held for the whole life of the process.
    UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, kMutexName));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowAlreadyRunning(instance);
        return 0;
    }

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    LoadStringW(instance, IDS_APP_TITLE, app.titleText, 100);
    LoadStringW(instance, IDS_WINDOW_CLASS, app.className, 100);
    RegisterMainClass(instance);

    if (!InitInstance(instance, showCommand)) {
        DiscardRecorder(app.recorder);  // the window that would have owned it never came
        app.recorder = nullptr;
        Gdiplus::GdiplusShutdown(gdiplusToken);
        return 0;
    }

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_ZENTROVIA));
    const int exitCode = RunMainLoop(accelerators);
    CloseMainWindowAfterQuit();
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return exitCode;
}
