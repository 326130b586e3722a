#include "driver_text.h"

#include <cstdio>
#include <limits>

namespace zvdriver {

std::optional<int64_t> ParseNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    // Handles are printed as unsigned hex; allow the full 64-bit range for them.
    if (negative) {
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return std::nullopt;
        return static_cast<int64_t>(0 - value);
    }
    return static_cast<int64_t>(value);
}

std::string EscapeField(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string FormatHex(uint64_t value) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string FormatHwnd(HWND hwnd) {
    return FormatHex(reinterpret_cast<uintptr_t>(hwnd));
}

std::string FormatRect(const RECT& rect) {
    char buffer[80];
    snprintf(buffer, sizeof(buffer), "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    return buffer;
}

Record& Record::Add(std::string_view key, std::string_view value) {
    if (!line_.empty()) line_ += '\t';
    line_.append(key);
    line_ += '=';
    line_ += EscapeField(value);
    return *this;
}

Record& Record::Add(std::string_view key, const std::wstring& value) {
    return Add(key, std::string_view(Utf8FromWide(value)));
}

Record& Record::Add(std::string_view key, const wchar_t* value) {
    return Add(key, std::wstring(value ? value : L""));
}

Record& Record::Add(std::string_view key, int64_t value) {
    return Add(key, std::string_view(std::to_string(value)));
}

Record& Record::AddHex(std::string_view key, uint64_t value) {
    return Add(key, std::string_view(FormatHex(value)));
}

Record& Record::Add(std::string_view key, HWND hwnd) {
    return Add(key, std::string_view(FormatHwnd(hwnd)));
}

Record& Record::Add(std::string_view key, const RECT& rect) {
    return Add(key, std::string_view(FormatRect(rect)));
}

Record& Record::AddFlag(std::string_view key, bool value) {
    return Add(key, std::string_view(value ? "1" : "0"));
}

void Print(const Record& record) {
    fwrite(record.Line().data(), 1, record.Line().size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

}  // namespace zvdriver
