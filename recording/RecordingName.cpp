#include "recording/RecordingName.h"

#include <cwchar>

namespace {
constexpr int kMaxSuffix = 999;
}

std::wstring RecordingFileName(const StartTime& t) {
    wchar_t name[260];
    std::swprintf(name, 260, L"Zentrovia_%04d%02d%02d_%02d%02d%02d.mp4", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return name;
}

std::wstring RecordingPath(const std::wstring& folder, const std::wstring& fileName) {
    return folder + L"\\" + fileName;
}

std::wstring FreeRecordingPath(const std::wstring& folder, const StartTime& time,
                               const std::function<bool(const std::wstring&)>& exists) {
    const std::wstring name = RecordingFileName(time);
    std::wstring path = RecordingPath(folder, name);
    if (!exists(path)) return path;
    const std::wstring stem = name.substr(0, name.size() - 4);  // without ".mp4"
    for (int suffix = 2; suffix <= kMaxSuffix; ++suffix) {
        path = RecordingPath(folder, stem + L"_" + std::to_wstring(suffix) + L".mp4");
        if (!exists(path)) return path;
    }
    return {};
}
