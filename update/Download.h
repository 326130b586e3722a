#pragma once
// The installer download, on its own thread, reporting to the progress window.
#include <windows.h>

#include "ui/Messages.h"

#include <atomic>

struct DownloadJob {
    const wchar_t* url = nullptr;
    wchar_t path[260] = {};
    HWND progressBar = nullptr;
    HWND statusText = nullptr;
    std::atomic<bool> succeeded = false;
    std::atomic<bool> cancelled = false;
    wchar_t errorText[256] = {};
};

// Succeeds only over HTTPS, with every read and write done and the announced length reached.
DWORD WINAPI DownloadThread(LPVOID job);
