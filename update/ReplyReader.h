#pragma once
// Reads the update server's compact JSON reply by byte patterns and compares versions.
// Platform-free, so the host build tests it under the sanitizers.
#include <string>
#include <vector>

// True only when "key": is followed directly by the four bytes true.
bool ReadJsonFlag(const std::string& reply, const std::string& key);
// The unescaped value of "key":"...", or empty when absent, not a string or unterminated.
std::string ReadJsonString(const std::string& reply, const std::string& key);
// UTF-8 to UTF-16 units, up to the first zero byte; malformed input becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& bytes);

// The text cut to at most `units` UTF-16 units and `lines` lines, never inside a surrogate pair,
// with "..." where it was cut.
std::wstring ShortenText(const std::wstring& text, size_t units, size_t lines);

// Numbers between full stops, read like _wtoi, padded with zeros to at least three.
std::vector<int> ParseVersion(const std::wstring& text);
// True when the candidate's first three numbers are greater than the reference's.
bool IsNewerVersion(const std::wstring& candidate, const std::wstring& reference);
