#pragma once
// Why a recording could not start or had to end, in the words the user is shown.
#include <windows.h>

#include <cstdint>
#include <string>

enum class FailureMoment { Starting, Recording };

// The whole message: what was affected (a folder or a file), what happened, and why; for a
// recording that stopped, whether its file could be finished.
std::wstring RecordingFailureText(FailureMoment moment, const std::wstring& target, HRESULT failure,
                                  bool finished = true);

// One message box with that text, owned by `owner` (may be null).
void ShowRecordingFailure(HWND owner, FailureMoment moment, const std::wstring& target, HRESULT failure,
                          bool finished = true);

// A recording that goes on without sound: the source could not be opened at its start.
std::wstring SoundStartFailureText(HRESULT failure);
// The source went away during the recording, `missingFromMs` of recording time in.
std::wstring SoundLostText(const std::wstring& target, int64_t missingFromMs);
void ShowSoundMessage(HWND owner, const std::wstring& text);
