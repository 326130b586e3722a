#include "update/UpdatePrompt.h"

#include "common/WinHandles.h"
#include "ui/Controls.h"
#include "ui/MessageLoop.h"
#include "update/Download.h"
#include "update/UpdateCheck.h"

#include <commctrl.h>

#include <string>

namespace {

constexpr wchar_t kInstallerName[] = L"Zentrovia-Setup.exe";
constexpr wchar_t kDownloadFailedText[] = L"Download failed. Please check your internet connection and try again.";
constexpr int kProgressWidth = 400;
constexpr int kProgressHeight = 120;

constexpr ChildControl kStatusSpec = {L"STATIC", L"Connecting...", 0, 16, 14, 368, 20, 0};
constexpr ChildControl kBarSpec = {PROGRESS_CLASSW, L"", PBS_SMOOTH, 16, 44, 368, 20, 0};
constexpr ChildControl kCancelSpec = {L"BUTTON", L"Cancel", 0, 156, 76, 88, 28, IDCANCEL};

std::wstring PromptText(const UpdateInfo& offer) {
    std::wstring text = L"A new version is available: " + offer.version + L"\n\n";
    if (!offer.changelog.empty()) text += L"What's new:\n" + offer.changelog + L"\n\n";
    return text + L"Click OK to download and install, or Cancel to skip.";
}

// The Cancel button reports to the dialog class's own procedure, out of the wait loop's sight:
// queue the click so the loop sees it, as it sees the one the close box queues.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COMMAND || LOWORD(wParam) != IDCANCEL) return FALSE;
    PostMessageW(dialog, WM_COMMAND, wParam, lParam);
    return TRUE;
}

HWND CreateProgressWindow(HWND owner, DownloadJob& job) {
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, L"#32770", L"Downloading Update...",
                                  WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 0, 0, kProgressWidth,
                                  kProgressHeight, owner, nullptr,
                                  reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)), nullptr);
    if (!window) return nullptr;
    SetWindowLongPtrW(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(ProgressDialogProc));
    RECT ownerRect{};
    GetWindowRect(owner, &ownerRect);
    SetWindowPos(window, nullptr, ownerRect.left + (ownerRect.right - ownerRect.left - kProgressWidth) / 2,
                 ownerRect.top + (ownerRect.bottom - ownerRect.top - kProgressHeight) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    job.statusText = MakeControl(window, kStatusSpec);
    job.progressBar = MakeControl(window, kBarSpec);
    // The download reports its end to the bar's parent: without the controls it could not.
    if (!job.statusText || !job.progressBar || !MakeControl(window, kCancelSpec)) {
        DestroyWindow(window);
        return nullptr;
    }
    SendMessageW(job.progressBar, PBM_SETRANGE32, 0, 100);
    SendMessageW(job.progressBar, PBM_SETPOS, 0, 0);
    return window;
}

// Dispatches until the download reports its end, the user cancels or a quit arrives; a quit is
// left in the queue for the loop outside.
void WaitForDownload(HWND progress, DownloadJob& job) {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            job.cancelled = true;
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        // The tray icon's notification has the same number: only the progress window's counts.
        if (msg.message == WM_DOWNLOAD_DONE && msg.hwnd == progress) return;
        if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == IDCANCEL && msg.hwnd == progress) {
            job.cancelled = true;
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The thread may still be setting the progress texts: handle those sent messages while waiting,
// and leave everything posted in the queue.
void JoinDownload(HANDLE thread) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void AcknowledgeVersion(const std::wstring& version) {
    UniqueRegistryKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUpdateKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key.get(), kAcknowledgedValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
}

// Runs the download with its progress window; the job tells how it ended.
void RunDownload(HWND owner, DownloadJob& job) {
    UniqueWindow progress(CreateProgressWindow(owner, job));
    if (!progress) {
        wcscpy_s(job.errorText, L"Cannot create the progress window.");
        return;
    }
    UniqueKernelHandle thread(CreateThread(nullptr, 0, DownloadThread, &job, 0, nullptr));
    if (!thread) {
        wcscpy_s(job.errorText, L"Cannot start the download.");
        return;
    }
    WaitForDownload(progress.get(), job);
    JoinDownload(thread.get());
}

}  // namespace

void ShowUpdatePrompt(HWND owner) {
    const UpdateInfo& offer = PendingUpdate;
    if (MessageBoxW(owner, PromptText(offer).c_str(), L"Zentrovia Update Available", MB_OKCANCEL | MB_ICONINFORMATION) !=
        IDOK) {
        return;
    }
    if (offer.downloadUrl.empty()) {
        MessageBoxW(owner, L"No download URL available. Please contact support.", L"Update Error", MB_ICONWARNING);
        return;
    }
    DownloadJob job;
    job.url = offer.downloadUrl.c_str();
    const DWORD tempLength = GetTempPathW(ARRAYSIZE(job.path), job.path);
    if (tempLength == 0 || tempLength + ARRAYSIZE(kInstallerName) > ARRAYSIZE(job.path)) {
        MessageBoxW(owner, L"Cannot write to temp file.", L"Update Failed", MB_ICONERROR);
        return;
    }
    wcscat_s(job.path, kInstallerName);
    RunDownload(owner, job);
    if (AppQuitRequested()) return;  // the program is ending anyway

    if (job.succeeded) {
        SHELLEXECUTEINFOW request{};
        request.cbSize = sizeof(request);
        request.lpVerb = L"runas";
        request.lpFile = job.path;
        request.nShow = SW_SHOWNORMAL;
        if (!launchInstaller(request)) {
            // Elevation declined, or a file that will not start: nothing was installed, so the
            // version is not acknowledged and the program stays; the offer comes again next start.
            MessageBoxW(owner, L"The installer could not be started.", L"Update Failed", MB_ICONERROR);
            return;
        }
        AcknowledgeVersion(offer.version);
        // Through the shared request, so the main loop ends and the window's tear-down finalizes a
        // running recording and removes the tray icon before the installer replaces the program.
        PostAppQuit(0);
    } else if (!job.cancelled) {
        MessageBoxW(owner, job.errorText[0] ? job.errorText : kDownloadFailedText, L"Update Failed", MB_ICONERROR);
    }
}
