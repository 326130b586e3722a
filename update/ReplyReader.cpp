#include "update/ReplyReader.h"

#include <climits>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

bool ReadJsonFlag(const std::string& reply, const std::string& key) {
    const std::string pattern = "\"" + key + "\":";
    const size_t at = reply.find(pattern);
    if (at == std::string::npos) return false;
    return reply.compare(at + pattern.size(), 4, "true") == 0;
}

std::string ReadJsonString(const std::string& reply, const std::string& key) {
    const std::string pattern = "\"" + key + "\":\"";
    const size_t at = reply.find(pattern);
    if (at == std::string::npos) return {};
    const size_t start = at + pattern.size();
    size_t index = start;
    while (index < reply.size() && reply[index] != '"') index += reply[index] == '\\' ? 2 : 1;
    if (index >= reply.size()) return {};  // unterminated: nothing rather than a partial text

    std::string value;
    for (size_t i = start; i < index; ++i) {
        if (reply[i] != '\\' || i + 1 == index) {
            value += reply[i];
            continue;
        }
        const char next = reply[++i];
        switch (next) {
        case '"': case '/': case '\\': value += next; break;
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case 't': value += '\t'; break;
        default: value += '\\'; value += next; break;  // \u, \b, \f stay as they are
        }
    }
    return value;
}

#ifdef _WIN32
std::wstring Utf8ToWide(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
    if (units <= 0) return {};
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, text.data(), units);
    text.resize(static_cast<size_t>(units) - 1);
    return text;
}
#else
// The host build has no MultiByteToWideChar: the same conversion, one code point at a time.
std::wstring Utf8ToWide(const std::string& bytes) {
    std::wstring text;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.c_str());
    const size_t n = bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0');
    for (size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2
                                                                       : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
        uint32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        int taken = 1;
        while (extra > 0 && taken <= extra && i + taken < n && (s[i + taken] & 0xC0) == 0x80)
            code = (code << 6) | (s[i + taken++] & 0x3F);
        const bool whole = extra >= 0 && taken == extra + 1;
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (!whole || code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            text += wchar_t(0xFFFD);
            i += taken;
            continue;
        }
        if (code >= 0x10000) {
            text += wchar_t(0xD800 + ((code - 0x10000) >> 10));
            text += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += wchar_t(code);
        }
        i += taken;
    }
    return text;
}
#endif

std::wstring ShortenText(const std::wstring& text, size_t units, size_t lines) {
    size_t end = 0, breaks = 0;
    for (; end < text.size() && end < units; ++end) {
        if (text[end] == L'\n' && ++breaks == lines) break;
    }
    if (end == text.size()) return text;
    if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] < 0xDC00) --end;
    return text.substr(0, end) + L"...";
}

namespace {

// _wtoi's reading, saturating outside the 32-bit range.
int ReadVersionNumber(const std::wstring& piece) {
    size_t i = 0;
    while (i < piece.size() && (piece[i] == L' ' || (piece[i] >= L'\t' && piece[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == L'+' || piece[i] == L'-')) negative = piece[i++] == L'-';
    int64_t value = 0;
    for (; i < piece.size() && piece[i] >= L'0' && piece[i] <= L'9'; ++i) {
        value = value * 10 + (piece[i] - L'0');
        if (value > int64_t(INT_MAX) + 1) value = int64_t(INT_MAX) + 1;
    }
    if (negative) return value > INT_MAX ? INT_MIN : -static_cast<int>(value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

std::vector<int> ParseVersion(const std::wstring& text) {
    std::vector<int> numbers;
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find(L'.', start);
        if (stop == std::wstring::npos) stop = text.size();
        numbers.push_back(ReadVersionNumber(text.substr(start, stop - start)));
        start = stop + 1;
    }
    while (numbers.size() < 3) numbers.push_back(0);
    return numbers;
}

bool IsNewerVersion(const std::wstring& candidate, const std::wstring& reference) {
    const std::vector<int> a = ParseVersion(candidate);
    const std::vector<int> b = ParseVersion(reference);
    for (int i = 0; i < 3; ++i) {
        if (a[i] != b[i]) return a[i] > b[i];
    }
    return false;
}
