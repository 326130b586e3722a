// The test build's installer start: records the request it was given and whether the file could
// be opened for writing at that moment, then passes it to the program's own start, unless a
// "zv-decline" file beside the record stands for a user who declines the elevation.
#include "update/UpdatePrompt.h"

#include <cstdio>
#include <utility>

namespace {

BOOL (*programLaunch)(SHELLEXECUTEINFOW& request) = nullptr;

BOOL RecordAndLaunch(SHELLEXECUTEINFOW& request) {
    wchar_t record[MAX_PATH] = {};
    GetTempPathW(MAX_PATH - 20, record);
    wcscat_s(record, L"zv-launch.txt");
    const DWORD anyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE writer = CreateFileW(request.lpFile, GENERIC_WRITE, anyShare, nullptr, OPEN_EXISTING, 0, nullptr);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    if (FILE* file = _wfopen(record, L"a")) {
        fprintf(file, "verb=%ls file=%ls writable=%d\n", request.lpVerb, request.lpFile, writer != INVALID_HANDLE_VALUE);
        fclose(file);
    }
    wcscpy_s(wcsrchr(record, L'\\') + 1, 16, L"zv-decline");
    if (GetFileAttributesW(record) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    return programLaunch(request);
}

// In place before wWinMain: the program's pointer itself is constant-initialised.
[[maybe_unused]] const bool recordingLaunchInstalled = (programLaunch = std::exchange(launchInstaller, RecordAndLaunch), true);

}  // namespace
