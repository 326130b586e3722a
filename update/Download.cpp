#include "update/Download.h"

#include "common/WinHandles.h"
#include "update/HttpClient.h"

#include <commctrl.h>
#include <cwchar>
#include <string>

namespace {

const wchar_t* FailureText(RequestFailure failure) {
    switch (failure) {
    case RequestFailure::Session: return L"Failed to open HTTP session.";
    case RequestFailure::Connect: return L"Cannot connect to server.";
    case RequestFailure::Request: return L"Cannot create HTTP request.";
    default: return L"No response from server.";
    }
}

// These calls complete only while the UI thread handles sent messages, which it also does while
// it waits for this thread to end.
void ShowStatus(const DownloadJob& job, const wchar_t* text) { SetWindowTextW(job.statusText, text); }

void ShowProgress(const DownloadJob& job, unsigned long long received, unsigned long long length) {
    wchar_t text[64] = {};
    if (length) {
        SendMessageW(job.progressBar, PBM_SETPOS, static_cast<WPARAM>(received), 0);
        swprintf_s(text, ARRAYSIZE(text), L"Downloading... %u / %u KB", unsigned(received / 1024),
                   unsigned(length / 1024));
    } else {
        swprintf_s(text, ARRAYSIZE(text), L"Downloading... %u KB", unsigned(received / 1024));
    }
    ShowStatus(job, text);
}

// Copies the body into the file; false when a query, read or write failed.
bool CopyBody(DownloadJob& job, HINTERNET request, HANDLE file, unsigned long long length,
              unsigned long long& received) {
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        std::string chunk(available, '\0');
        DWORD read = 0, written = 0;
        if (!WinHttpReadData(request, chunk.data(), available, &read)) return false;
        if (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read) return false;
        received += read;
        ShowProgress(job, received, length);
        if (job.cancelled) return true;
    }
}

// Returns the failure message, or nullptr when the installer arrived whole.
const wchar_t* Download(DownloadJob& job, wchar_t (&message)[256]) {
    UrlParts parts;
    // Whatever arrives here is run elevated: only a download over TLS may be.
    if (!SplitUrl(job.url, parts) || parts.scheme != INTERNET_SCHEME_HTTPS) return L"Invalid download URL.";
    HttpRequest http;
    const RequestFailure failure = OpenGetRequest(parts, WINHTTP_ACCESS_TYPE_NO_PROXY, http);
    if (failure != RequestFailure::None) return FailureText(failure);

    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(http.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        swprintf_s(message, L"Server returned HTTP %u. Check the download URL.", unsigned(status));
        return message;
    }
    wchar_t lengthText[32] = {};
    size = sizeof(lengthText) - sizeof(wchar_t);
    unsigned long long length = 0;
    if (WinHttpQueryHeaders(http.request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                            lengthText, &size, WINHTTP_NO_HEADER_INDEX)) {
        length = wcstoull(lengthText, nullptr, 10);
    }
    if (length) SendMessageW(job.progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(length));

    UniqueFile file(CreateFileW(job.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return L"Cannot write to temp file.";
    unsigned long long received = 0;
    const bool copied = CopyBody(job, http.request.get(), file.get(), length, received);
    const bool closed = CloseHandle(file.release());
    if (job.cancelled) return L"";
    // A cut-off or half-written installer must never run.
    if (!copied || !closed || received == 0 || (length && received != length))
        return L"Download failed. Please check your internet connection and try again.";
    return nullptr;
}

}  // namespace

DWORD WINAPI DownloadThread(LPVOID parameter) {
    auto& job = *static_cast<DownloadJob*>(parameter);
    wchar_t message[256] = {};
    const wchar_t* failure = Download(job, message);
    if (failure) {
        wcsncpy_s(job.errorText, failure, _TRUNCATE);
        if (*failure) ShowStatus(job, failure);
    } else {
        job.succeeded = true;
    }
    PostMessageW(GetParent(job.progressBar), WM_DOWNLOAD_DONE, job.succeeded, 0);
    return 0;
}
