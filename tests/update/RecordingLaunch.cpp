// The test build's installer start: records the request it was given, then makes it, unless a
// "zv-decline" file beside the record stands for a user who declines the elevation.
#include "update/UpdatePrompt.h"

#include <cstdio>

namespace {

BOOL RecordAndLaunch(SHELLEXECUTEINFOW& request) {
    wchar_t record[MAX_PATH] = {};
    GetTempPathW(MAX_PATH - 20, record);
    wcscat_s(record, L"zv-launch.txt");
    if (FILE* file = _wfopen(record, L"a")) {
        fprintf(file, "verb=%ls file=%ls\n", request.lpVerb, request.lpFile);
        fclose(file);
    }
    wcscpy_s(wcsrchr(record, L'\\') + 1, 16, L"zv-decline");
    if (GetFileAttributesW(record) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    return ShellExecuteExW(&request);
}

// In place before wWinMain: the pointer itself is constant-initialised.
[[maybe_unused]] const bool recordingLaunchInstalled = (launchInstaller = RecordAndLaunch, true);

}  // namespace
