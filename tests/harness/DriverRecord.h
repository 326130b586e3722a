// What zvdriver.exe and zvhook.dll share: the one-line records they print and the
// registered message through which the driver asks a program about its own GDI objects.
#pragma once
#include <windows.h>

#include <string>

namespace zvdriver {

// The hook's answer to kQueryMessage: lParam names what is asked about the target window.
constexpr wchar_t kQueryMessage[] = L"ZvDriver.Query";
enum Query : LPARAM { kMenuBar = 0, kPopupMenu = 1, kFont = 2 };
constexpr ULONG_PTR kAnswer = 0x5A560001;

inline std::string Utf8(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    std::string out(text.size() * 3, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), size * 3, nullptr, nullptr)));
    return out;
}

// Tab-separated key=value pairs on one line; tab, newline, CR and backslash are escaped.
struct Record {
    std::string line;
    Record& add(const char* key, const std::string& value) {
        line.append(line.empty() ? "" : "\t").append(key).append(1, '=');
        for (char c : value) line += c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : std::string(1, c);
        return *this;
    }
    Record& add(const char* key, const std::wstring& value) { return add(key, Utf8(value)); }
    Record& add(const char* key, long long value) { return add(key, std::to_string(value)); }
    Record& hex(const char* key, unsigned long long value) {
        char text[24];
        snprintf(text, sizeof(text), "0x%llx", value);
        return add(key, std::string(text));
    }
};

}  // namespace zvdriver
