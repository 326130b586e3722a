#include "app/RecordingFailure.h"

#include "recording/DiskSpace.h"
#include "recording/mediafoundation/BuiltInSinkWriter.h"

#include <audioclient.h>

#include <cwchar>

namespace {

struct FailureReason {
    HRESULT code;
    const wchar_t* whileRecording;
    const wchar_t* whenStarting;
};

constexpr wchar_t kDiskFull[] = L"The disk is full.";
constexpr wchar_t kFolderGone[] = L"The folder is no longer reachable.";
constexpr wchar_t kFolderMissing[] = L"The folder does not exist and cannot be created there.";
constexpr wchar_t kNotAllowed[] = L"Zentrovia is not allowed to write there.";

constexpr FailureReason kReasons[] = {
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), kDiskFull, kDiskFull},
    {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), kDiskFull, kDiskFull},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), kFolderGone, kFolderMissing},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), kFolderGone, kFolderMissing},
    {HRESULT_FROM_WIN32(ERROR_INVALID_DRIVE), kFolderGone, kFolderMissing},
    {HRESULT_FROM_WIN32(ERROR_INVALID_NAME), kFolderGone, kFolderMissing},
    {HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), kFolderGone, kFolderGone},
    {HRESULT_FROM_WIN32(ERROR_BAD_NET_NAME), kFolderGone, kFolderGone},
    {HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED), kFolderGone, kFolderGone},
    {HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST), kFolderGone, kFolderGone},
    {HRESULT_FROM_WIN32(ERROR_NOT_READY), kFolderGone, kFolderGone},
    {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), kNotAllowed, kNotAllowed},
    {HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT), kNotAllowed, kNotAllowed},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), L"Another program holds the file.",
     L"Another program holds the file."},
    {HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), kNotAllowed, L"Every free file name for this second is taken."},
    {kEncoderFailed, L"The video encoder failed.", L"The video encoder failed."},
};

std::wstring LowDiskSpaceText(uint64_t threshold) {
    return L"The disk is almost full (less than " + std::to_wstring(threshold / kMegabyte) + L" MB free).";
}

std::wstring Reason(FailureMoment moment, HRESULT failure) {
    if (failure == kLowDiskSpace)
        return LowDiskSpaceText(moment == FailureMoment::Recording ? kFreeSpaceToGoOn : kFreeSpaceToStart);
    for (const FailureReason& reason : kReasons)
        if (reason.code == failure)
            return moment == FailureMoment::Recording ? reason.whileRecording : reason.whenStarting;
    wchar_t text[96];
    std::swprintf(text, 96, L"The video could not be written (error 0x%08lX).", static_cast<unsigned long>(failure));
    return text;
}

}  // namespace

std::wstring RecordingFailureText(FailureMoment moment, const std::wstring& target, HRESULT failure, bool finished) {
    if (moment == FailureMoment::Starting)
        return L"Recording could not start:\n" + target + L"\n\n" + Reason(moment, failure);
    return L"Recording stopped:\n" + target + L"\n\n" + Reason(moment, failure) +
           (finished ? L"\nWhat was recorded until then is in the file."
                     : L"\nThe file could not be finished, so it may not play.");
}

void ShowRecordingFailure(HWND owner, FailureMoment moment, const std::wstring& target, HRESULT failure,
                          bool finished) {
    MessageBoxW(owner, RecordingFailureText(moment, target, failure, finished).c_str(), L"Zentrovia",
                MB_OK | MB_ICONWARNING);
}

namespace {

constexpr wchar_t kDeviceGone[] = L"The sound device is no longer there.";

struct SoundReason {
    HRESULT code;
    const wchar_t* text;
};

constexpr SoundReason kSoundReasons[] = {
    {AUDCLNT_E_DEVICE_INVALIDATED, kDeviceGone},
    {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), kDeviceGone},
    {AUDCLNT_E_DEVICE_IN_USE, L"Another program holds the sound device for itself."},
    {E_ACCESSDENIED, L"Zentrovia is not allowed to use the microphone (Windows privacy settings)."},
    {AUDCLNT_E_WRONG_ENDPOINT_TYPE, L"This system cannot record what it plays."},
    {AUDCLNT_E_UNSUPPORTED_FORMAT, L"The sound device's format is not supported."},
    {AUDCLNT_E_SERVICE_NOT_RUNNING, L"The Windows audio service is not running."},
};

}  // namespace

std::wstring SoundStartFailureText(HRESULT failure) {
    std::wstring reason;
    for (const SoundReason& known : kSoundReasons)
        if (known.code == failure) reason = known.text;
    if (reason.empty()) {
        wchar_t text[96];
        std::swprintf(text, 96, L"The sound could not be recorded (error 0x%08lX).", static_cast<unsigned long>(failure));
        reason = text;
    }
    return L"Recording without sound:\n" + reason + L"\n\nThe picture is recorded as usual.";
}

std::wstring SoundLostText(const std::wstring& target, int64_t missingFromMs) {
    const int64_t seconds = missingFromMs / 1000;
    wchar_t from[32];
    std::swprintf(from, 32, L"%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    return L"The sound is missing from " + std::wstring(from) + L" on:\n" + target +
           L"\n\nThe sound device went away during the recording; the recording is silent from there.";
}

void ShowSoundMessage(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), L"Zentrovia", MB_OK | MB_ICONWARNING);
}
