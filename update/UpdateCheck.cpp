#include "update/UpdateCheck.h"

#include "common/WinHandles.h"
#include "update/Download.h"
#include "update/HttpClient.h"
#include "update/ReplyReader.h"
#include "update/UpdatePrompt.h"
#include "Version.h"

const std::wstring CurrentVersion = ZV_VERSION_TEXT;
UpdateInfo PendingUpdate;

namespace {

// A stored value that fills the whole buffer (64 units or more) matches no offered version.
bool IsAcknowledged(const std::wstring& version) {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUpdateKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    wchar_t stored[64] = {};
    DWORD size = sizeof(stored);
    if (RegQueryValueExW(key.get(), kAcknowledgedValue, nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    const size_t length = wcsnlen(stored, ARRAYSIZE(stored));
    return length < ARRAYSIZE(stored) && version == std::wstring(stored, length);
}

}  // namespace

bool CheckForUpdate(UpdateInfo& info) {
    const std::string body = HttpGetText(UpdateServerBaseUrl + L"/api/version/latest");
    if (body.empty() || !ReadJsonFlag(body, "available")) return false;
    info.version = Utf8ToWide(ReadJsonString(body, "version"));
    info.changelog = Utf8ToWide(ReadJsonString(body, "changelog"));
    info.downloadUrl = Utf8ToWide(ReadJsonString(body, "download_url"));
    if (info.version.empty() || !IsNewerVersion(info.version, CurrentVersion)) return false;
    return !IsAcknowledged(info.version);
}

DWORD WINAPI UpdateCheckThread(LPVOID mainWindow) {
    RemoveLeftoverDownloads();
    UpdateInfo info;
    if (CheckForUpdate(info)) {
        PendingUpdate = info;
        PostMessageW(static_cast<HWND>(mainWindow), WM_UPDATE_AVAILABLE, 0, 0);
    }
    return 0;
}
