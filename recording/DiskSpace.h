#pragma once
// The free-space guard of the output volume, shared by the start of a recording and its worker.
#include <windows.h>

#include <cstdint>
#include <string>

// The output volume has too little free space to start or to go on recording.
constexpr HRESULT kLowDiskSpace = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

constexpr uint64_t kMegabyte = 1024 * 1024;
constexpr uint64_t kFreeSpaceToStart = 100 * kMegabyte;
constexpr uint64_t kFreeSpaceToGoOn = 50 * kMegabyte;
constexpr int64_t kDiskCheckIntervalMs = 1000;

// True when the volume holding `filePath` has fewer than `bytes` free for this user. A volume
// that cannot be asked counts as roomy: the write itself then reports what is wrong.
bool FreeSpaceBelow(const std::wstring& filePath, uint64_t bytes);

// A writer's failure as the user should read it. The C runtime under the built-in writer does not
// reliably say that a disk is full: "unreachable" on a volume that still answers with less than
// kFreeSpaceToGoOn left is a full disk.
HRESULT WriteFailureOnVolume(HRESULT failure, const std::wstring& filePath);
