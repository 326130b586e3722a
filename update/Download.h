#pragma once
// The installer download, on its own thread, reporting to the progress window.
#include <windows.h>

#include "common/WinHandles.h"

#include <atomic>
#include <memory>
#include <string>

// The largest installer taken; a longer download is a failed one.
constexpr unsigned long long kDownloadLimit = 1ull << 30;

// Shared by the user-interface thread and the download thread, which may outlive the wait for it
// when a stalled server holds a read after Cancel.
struct DownloadJob {
    std::wstring url;
    std::wstring folder;  // a new folder of its own in the temporary folder
    std::wstring path;    // the installer inside it
    HWND progressBar = nullptr;
    HWND statusText = nullptr;
    std::atomic<bool> succeeded = false;
    std::atomic<bool> cancelled = false;
    std::atomic<HINTERNET> request = nullptr;  // the open request, for Cancel to close
    // On success, the installer opened for reading only and closed to writers, held until it starts.
    UniqueFile installer;
    wchar_t errorText[256] = {};
};

// Succeeds only over HTTPS, with every read and write done, the announced length reached and
// the file read back unchanged through a handle that keeps writers out. Takes a heap-allocated
// std::shared_ptr<DownloadJob>, which it deletes.
DWORD WINAPI DownloadThread(LPVOID job);

// Marks the job cancelled and closes its request, so a read that waits on the server returns.
void CancelDownload(DownloadJob& job);

// Removes the job's folder with the installer in it; false when something stayed.
bool RemoveDownloadFolder(const std::wstring& folder);
// Removes what earlier runs left in the temporary folder (an installer that was started stays
// in use until it ends).
void RemoveLeftoverDownloads();
