// Text helpers of the driver: number parsing and the one-record-per-line output.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zvdriver {

// Decimal or 0x-hex, optionally negative; the whole text must be a number.
std::optional<int64_t> ParseNumber(std::string_view text);

// Values go on one line: tab, newline, CR and backslash become \t \n \r \\.
std::string EscapeField(std::string_view value);

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

std::string FormatHex(uint64_t value);
std::string FormatHwnd(HWND hwnd);
// left,top,right,bottom
std::string FormatRect(const RECT& rect);

// Builds one output line: key=value pairs separated by tabs.
class Record {
public:
    Record& Add(std::string_view key, std::string_view value);
    Record& Add(std::string_view key, const std::wstring& value);
    Record& Add(std::string_view key, const wchar_t* value);
    Record& Add(std::string_view key, int64_t value);
    Record& AddHex(std::string_view key, uint64_t value);
    Record& Add(std::string_view key, HWND hwnd);
    Record& Add(std::string_view key, const RECT& rect);
    Record& AddFlag(std::string_view key, bool value);
    const std::string& Line() const { return line_; }

private:
    std::string line_;
};

// Writes the record and a newline to stdout.
void Print(const Record& record);

}  // namespace zvdriver
