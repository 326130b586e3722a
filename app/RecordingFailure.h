#pragma once
// Why a recording could not start or had to end, in the words the user is shown.
#include <windows.h>

#include <string>

enum class FailureMoment { Starting, Recording };

// The whole message: what was affected (a folder or a file), what happened, and why; for a
// recording that stopped, whether its file could be finished.
std::wstring RecordingFailureText(FailureMoment moment, const std::wstring& target, HRESULT failure,
                                  bool finished = true);

// One message box with that text, owned by `owner` (may be null).
void ShowRecordingFailure(HWND owner, FailureMoment moment, const std::wstring& target, HRESULT failure,
                          bool finished = true);
