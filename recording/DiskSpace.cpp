#include "recording/DiskSpace.h"

#include <windows.h>

bool FreeSpaceBelow(const std::wstring& filePath, uint64_t bytes) {
    const size_t slash = filePath.find_last_of(L"\\/");
    // The trailing separator keeps a drive root ("R:\") a root rather than "the current folder of R:".
    const std::wstring folder = slash == std::wstring::npos ? L"." : filePath.substr(0, slash + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
    return available.QuadPart < bytes;
}

HRESULT WriteFailureOnVolume(HRESULT failure, const std::wstring& filePath) {
    if (failure != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || !FreeSpaceBelow(filePath, kFreeSpaceToGoOn))
        return failure;
    return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}
