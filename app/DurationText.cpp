#include "app/DurationText.h"

#include <cwchar>

std::wstring FormatDuration(uint32_t ms) {
    const uint32_t s = ms / 1000;
    wchar_t text[32];
    std::swprintf(text, 32, L"%02u:%02u:%02u", s / 3600, (s % 3600) / 60, s % 60);
    return text;
}
