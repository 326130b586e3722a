// Test tools of the update journeys, one program:
//   probe check <acknowledged|->  stores the acknowledged version (or removes the key), then runs the check
//   probe read                    prints the stored acknowledged version
//   probe                         stands in for an installer: records that it ran
#include "update/UpdateCheck.h"

#include "common/WinHandles.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (argc == 1) {
        wchar_t marker[MAX_PATH + 8] = {};
        GetModuleFileNameW(nullptr, marker, MAX_PATH);
        wcscat_s(marker, L".ran");
        UniqueKernelHandle file(CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return file.get() == INVALID_HANDLE_VALUE ? 1 : 0;
    }
    wchar_t stored[256] = {};
    DWORD size = sizeof(stored);
    if (verb == L"read") {
        RegGetValueW(HKEY_CURRENT_USER, kUpdateKey, kAcknowledgedValue, RRF_RT_REG_SZ, nullptr, stored, &size);
        printf("stored=%ls\n", stored);
        return 0;
    }
    if (verb != L"check" || argc < 3) return 2;
    const std::wstring acknowledged = argv[2];
    if (acknowledged == L"-")  // no key at all, as on the first run
        RegDeleteKeyW(HKEY_CURRENT_USER, kUpdateKey);
    else
        RegSetKeyValueW(HKEY_CURRENT_USER, kUpdateKey, kAcknowledgedValue, REG_SZ, acknowledged.c_str(),
                        DWORD((acknowledged.size() + 1) * sizeof(wchar_t)));
    UpdateInfo info;
    const bool offered = CheckForUpdate(info);
    printf("offered=%d version=%ls\n", offered ? 1 : 0, info.version.c_str());
    return 0;
}
