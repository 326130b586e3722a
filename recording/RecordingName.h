#pragma once
// Names of recordings: the local start time, and a free name when that one is taken.
#include <cstdint>
#include <functional>
#include <string>

struct StartTime {
    int year, month, day, hour, minute, second;
};

// "Zentrovia_YYYYMMDD_hhmmss.mp4"
std::wstring RecordingFileName(const StartTime& time);

// folder + "\" + name. The separator is always added, also after a drive root such as "D:\".
std::wstring RecordingPath(const std::wstring& folder, const std::wstring& fileName);

// The path for a new recording that never replaces an existing file: the plain name when it
// is free, else the name with "_2", "_3", ... before ".mp4". Empty when nothing is free.
std::wstring FreeRecordingPath(const std::wstring& folder, const StartTime& time,
                               const std::function<bool(const std::wstring&)>& exists);
