#include "update/UpdatePrompt.h"

#include "common/WinHandles.h"
#include "ui/Controls.h"
#include "ui/MessageLoop.h"
#include "update/Download.h"
#include "update/ReplyReader.h"
#include "update/UpdateCheck.h"

#include <commctrl.h>

#include <memory>
#include <string>

namespace {

constexpr wchar_t kDownloadFailedText[] = L"Download failed. Please check your internet connection and try again.";
constexpr int kProgressWidth = 400;
constexpr int kProgressHeight = 120;
// How long Cancel or a quit waits for the download thread before leaving it to end on its own.
constexpr DWORD kJoinBoundMs = 800;
// The longest changelog shown in the prompt, in units and in lines.
constexpr size_t kChangelogUnits = 1500;
constexpr size_t kChangelogLines = 20;

constexpr ChildControl kStatusSpec = {L"STATIC", L"Connecting...", 0, 16, 14, 368, 20, 0};
constexpr ChildControl kBarSpec = {PROGRESS_CLASSW, L"", PBS_SMOOTH, 16, 44, 368, 20, 0};
constexpr ChildControl kCancelSpec = {L"BUTTON", L"Cancel", 0, 156, 76, 88, 28, IDCANCEL};

std::wstring PromptText(const UpdateInfo& offer) {
    std::wstring text = L"A new version is available: " + offer.version + L"\n\n";
    const std::wstring changelog = ShortenText(offer.changelog, kChangelogUnits, kChangelogLines);
    if (!changelog.empty()) text += L"What's new:\n" + changelog + L"\n\n";
    return text + L"Click OK to download and install, or Cancel to skip.";
}

// The dialog class turns the Cancel button and the close box into IDCANCEL for this procedure:
// the download is cancelled here and the window goes, whichever loop dispatched the click.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND || LOWORD(wParam) != IDCANCEL) return FALSE;
    if (auto* job = reinterpret_cast<DownloadJob*>(GetWindowLongPtrW(dialog, DWLP_USER))) CancelDownload(*job);
    DestroyWindow(dialog);
    return TRUE;
}

HWND CreateProgressWindow(HWND owner, DownloadJob& job) {
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, L"#32770", L"Downloading Update...",
                                  WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 0, 0, kProgressWidth,
                                  kProgressHeight, owner, nullptr,
                                  reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)), nullptr);
    if (!window) return nullptr;
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&job));
    SetWindowLongPtrW(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(ProgressDialogProc));
    RECT ownerRect{};
    GetWindowRect(owner, &ownerRect);
    SetWindowPos(window, nullptr, ownerRect.left + (ownerRect.right - ownerRect.left - kProgressWidth) / 2,
                 ownerRect.top + (ownerRect.bottom - ownerRect.top - kProgressHeight) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    job.statusText = MakeControl(window, kStatusSpec);
    job.progressBar = MakeControl(window, kBarSpec);
    if (!job.statusText || !job.progressBar || !MakeControl(window, kCancelSpec)) {
        DestroyWindow(window);
        return nullptr;
    }
    SendMessageW(job.progressBar, PBM_SETRANGE32, 0, 100);
    SendMessageW(job.progressBar, PBM_SETPOS, 0, 0);
    return window;
}

// Waits, bounded, for the thread, handling the sent messages of its progress updates; true when
// it ended. One still held by a stalled server is left to end on its own with its share of the job.
bool JoinDownload(HANDLE thread) {
    const ULONGLONG deadline = GetTickCount64() + kJoinBoundMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, static_cast<DWORD>(deadline - now),
                                                     QS_SENDMESSAGE);
        if (woke != WAIT_OBJECT_0 + 1) return woke == WAIT_OBJECT_0;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
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

// Runs the download with its progress window; true when the thread has ended, so the job's
// outcome can be read.
bool RunDownload(HWND owner, const std::shared_ptr<DownloadJob>& job) {
    UniqueWindow progress(CreateProgressWindow(owner, *job));
    if (!progress) {
        wcscpy_s(job->errorText, L"Cannot create the progress window.");
        return true;
    }
    auto* share = new std::shared_ptr<DownloadJob>(job);
    UniqueKernelHandle thread(CreateThread(nullptr, 0, DownloadThread, share, 0, nullptr));
    if (!thread) {
        delete share;
        wcscpy_s(job->errorText, L"Cannot start the download.");
        return true;
    }
    // Waits on the thread itself, so no other loop can take its ending.
    if (RunNestedLoop(progress.get(), thread.get()) == LoopEnd::Signalled) {
        // A click on Cancel that arrived with the end still counts.
        MSG msg;
        while (IsWindow(progress.get()) && PeekMessageW(&msg, progress.get(), 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!IsWindow(progress.get())) progress.release();
        return true;
    }
    // Cancel (the window is gone), the owner's destruction or the program's end.
    if (!IsWindow(progress.get())) progress.release();
    CancelDownload(*job);
    progress.reset();
    return JoinDownload(thread.get());
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
    auto job = std::make_shared<DownloadJob>();
    job->url = offer.downloadUrl;
    const bool ended = RunDownload(owner, job);
    // A download that ended whole but is not started leaves nothing behind.
    const auto discard = [&] {
        job->installer.reset();
        RemoveDownloadFolder(job->folder);
    };
    if (!ended) return;  // cancelled; the thread removes what it made when it ends
    if (job->succeeded && (job->cancelled || AppQuitRequested())) return discard();
    if (AppQuitRequested()) return;  // the program is ending anyway

    if (job->succeeded) {
        SHELLEXECUTEINFOW request{};
        request.cbSize = sizeof(request);
        request.fMask = SEE_MASK_FLAG_NO_UI;  // a failure is told once, in the program's own words below
        request.lpVerb = L"runas";
        request.lpFile = job->path.c_str();
        request.nShow = SW_SHOWNORMAL;
        // The installer stays closed to writers until it has started; its folder goes at the next start.
        if (!launchInstaller(request)) {
            discard();
            // Elevation declined, or a file that will not start: nothing was installed, so the
            // version is not acknowledged and the program stays; the offer comes again next start.
            MessageBoxW(owner, L"The installer could not be started.", L"Update Failed", MB_ICONERROR);
            return;
        }
        job->installer.reset();
        AcknowledgeVersion(offer.version);
        // Through the shared request, so the main loop ends and the window's tear-down finalizes a
        // running recording and removes the tray icon before the installer replaces the program.
        PostAppQuit(0);
    } else if (!job->cancelled) {
        MessageBoxW(owner, job->errorText[0] ? job->errorText : kDownloadFailedText, L"Update Failed", MB_ICONERROR);
    }
}
