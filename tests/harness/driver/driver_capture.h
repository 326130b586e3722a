// Copies a screen region into a BMP file, for pixel checks in tests.
#pragma once

#include <windows.h>

#include <string>

namespace zvdriver {

// Empty string on success, otherwise what failed.
std::string CaptureScreenToBmp(const RECT& region, const std::wstring& path);

}  // namespace zvdriver
