#pragma once
// Why a recording could not start or had to end, in the words the user is shown.
#include <windows.h>

#include <string>

// The output volume has too little free space to start or to go on recording.
constexpr HRESULT kLowDiskSpace = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
// The built-in writer's encoder failed.
constexpr HRESULT kEncoderFailed = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0202);

enum class FailureMoment { Starting, Recording };

// The whole message: what was affected (a folder or a file), what happened, and why.
std::wstring RecordingFailureText(FailureMoment moment, const std::wstring& target, HRESULT failure);

// One message box with that text, owned by `owner` (may be null).
void ShowRecordingFailure(HWND owner, FailureMoment moment, const std::wstring& target, HRESULT failure);
