#include "update/Download.h"

#include "update/HttpClient.h"

#include <bcrypt.h>
#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kFolderPrefix[] = L"Zentrovia-Update-";
constexpr wchar_t kInstallerName[] = L"Zentrovia-Setup.exe";
constexpr wchar_t kDownloadFailedText[] = L"Download failed. Please check your internet connection and try again.";
constexpr wchar_t kTempFileText[] = L"Cannot write to temp file.";
constexpr DWORD kCopyChunk = 64 * 1024;

void CloseAlgorithm(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
void DestroyHash(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
using UniqueAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
using UniqueHash = UniqueHandle<BCRYPT_HASH_HANDLE, DestroyHash>;

// SHA-256 of what was written, to prove that the file read back through the writer-proof handle
// is the one received: between closing the writer and opening that handle, another could write.
struct Digest {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
    bool open() {
        return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
               BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0));
    }
    bool add(const void* data, DWORD size) {
        return BCRYPT_SUCCESS(BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
    }
    bool finish(unsigned char (&out)[32]) { return BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), out, 32, 0)); }
};

const wchar_t* FailureText(RequestFailure failure) {
    switch (failure) {
    case RequestFailure::Session: return L"Failed to open HTTP session.";
    case RequestFailure::Connect: return L"Cannot connect to server.";
    case RequestFailure::Request: return L"Cannot create HTTP request.";
    default: return L"No response from server.";
    }
}

// These calls complete only while the UI thread handles sent messages, which it also does while
// it waits for this thread to end. After a cancel the window may be gone: nothing is shown then.
void ShowStatus(const DownloadJob& job, const wchar_t* text) {
    if (!job.cancelled) SetWindowTextW(job.statusText, text);
}

void ShowProgress(const DownloadJob& job, unsigned long long received, unsigned long long length) {
    if (job.cancelled) return;
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

// A new folder with an unguessable name, so nothing can be planted where the installer lands.
bool MakeDownloadFolder(DownloadJob& job) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    unsigned char random[16] = {};
    if (length == 0 || length >= ARRAYSIZE(temp) ||
        !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    job.folder = std::wstring(temp) + kFolderPrefix;
    for (unsigned char byte : random) {
        wchar_t pair[3] = {};
        swprintf_s(pair, ARRAYSIZE(pair), L"%02x", byte);
        job.folder += pair;
    }
    if (!CreateDirectoryW(job.folder.c_str(), nullptr)) {
        job.folder.clear();
        return false;
    }
    job.path = job.folder + L"\\" + kInstallerName;
    return true;
}

// Copies the body into the file; false when a query, read or write failed or the limit was passed.
bool CopyBody(DownloadJob& job, HINTERNET request, HANDLE file, Digest& digest, unsigned long long length,
              unsigned long long& received) {
    std::vector<char> chunk(kCopyChunk);
    for (;;) {
        DWORD available = 0;
        if (job.cancelled || !WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        DWORD read = 0, written = 0;
        if (!WinHttpReadData(request, chunk.data(), available < kCopyChunk ? available : kCopyChunk, &read)) return false;
        if (read > kDownloadLimit - received) return false;
        if (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read || !digest.add(chunk.data(), read))
            return false;
        received += read;
        ShowProgress(job, received, length);
    }
}

// Opens the written file for reading with writers kept out, and checks it holds what was received.
bool OpenUnchanged(DownloadJob& job, const unsigned char (&expected)[32], unsigned long long size) {
    UniqueFile file(CreateFileW(job.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Digest digest;
    if (!digest.open()) return false;
    std::vector<char> chunk(kCopyChunk);
    unsigned long long total = 0;
    for (DWORD read = 0;; total += read) {
        if (job.cancelled || !ReadFile(file.get(), chunk.data(), kCopyChunk, &read, nullptr)) return false;
        if (read == 0) break;
        if (!digest.add(chunk.data(), read)) return false;
    }
    unsigned char actual[32] = {};
    if (total != size || !digest.finish(actual) || memcmp(actual, expected, sizeof(actual)) != 0) return false;
    job.installer = std::move(file);
    return true;
}

// Takes the request back from the job on every path: one that Cancel closed is not closed again.
struct PublishedRequest {
    DownloadJob& job;
    HttpRequest& http;
    ~PublishedRequest() {
        if (!job.request.exchange(nullptr)) http.request.release();
    }
};

// Returns the failure message (empty when cancelled), or nullptr when the installer arrived whole.
const wchar_t* Download(DownloadJob& job, wchar_t (&message)[256]) {
    UrlParts parts;
    // Whatever arrives here is run elevated: only a download over TLS may be.
    if (!SplitUrl(job.url.c_str(), parts) || parts.scheme != INTERNET_SCHEME_HTTPS) return L"Invalid download URL.";
    HttpRequest http;
    RequestFailure failure = OpenRequest(parts, WINHTTP_ACCESS_TYPE_NO_PROXY, http);
    if (failure != RequestFailure::None) return FailureText(failure);
    job.request = http.request.get();
    PublishedRequest published{job, http};
    // Checked after publishing: a Cancel before it found nothing to close.
    if (job.cancelled) return L"";
    if (SendRequest(http) != RequestFailure::None) return job.cancelled ? L"" : FailureText(RequestFailure::Send);

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
    if (length > kDownloadLimit) return kDownloadFailedText;
    if (length) SendMessageW(job.progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(length));

    if (!MakeDownloadFolder(job)) return kTempFileText;
    UniqueFile file(CreateFileW(job.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    Digest digest;
    if (!file || !digest.open()) return kTempFileText;
    unsigned long long received = 0;
    const bool copied = CopyBody(job, http.request.get(), file.get(), digest, length, received);
    const bool closed = CloseHandle(file.release());
    if (job.cancelled) return L"";
    unsigned char written[32] = {};
    // A cut-off, half-written or changed installer must never run.
    if (!copied || !closed || received == 0 || (length && received != length) || !digest.finish(written) ||
        !OpenUnchanged(job, written, received)) {
        return job.cancelled ? L"" : kDownloadFailedText;
    }
    return nullptr;
}

}  // namespace

DWORD WINAPI DownloadThread(LPVOID parameter) {
    const std::unique_ptr<std::shared_ptr<DownloadJob>> holder(static_cast<std::shared_ptr<DownloadJob>*>(parameter));
    DownloadJob& job = **holder;
    wchar_t message[256] = {};
    const wchar_t* failure = Download(job, message);
    if (!failure && !job.cancelled) {
        job.succeeded = true;
        return 0;
    }
    // Nothing of a failed or cancelled download stays behind.
    job.installer.reset();
    if (!job.folder.empty()) RemoveDownloadFolder(job.folder);
    if (failure) {
        wcsncpy_s(job.errorText, failure, _TRUNCATE);
        if (*failure) ShowStatus(job, failure);
    }
    return 0;
}

void CancelDownload(DownloadJob& job) {
    job.cancelled = true;
    if (HINTERNET request = job.request.exchange(nullptr)) WinHttpCloseHandle(request);
}

bool RemoveDownloadFolder(const std::wstring& folder) {
    if (folder.empty()) return false;
    // The files in it (the installer may leave its own beside it); never what a link points to.
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str());
}

void RemoveLeftoverDownloads() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    if (length == 0 || length >= ARRAYSIZE(temp)) return;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((std::wstring(temp) + kFolderPrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const std::wstring folder = std::wstring(temp) + found.cFileName;
        // A link is removed itself; what it points to is not ours.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            RemoveDirectoryW(folder.c_str());
        else
            RemoveDownloadFolder(folder);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
