// The reply readers and the version comparison against the tables they are written to.
#include "update/ReplyReader.h"

#include <gtest/gtest.h>

namespace {

TEST(ReplyReader, Flag) {
    const struct { const char* reply; bool expected; } cases[] = {
        {R"({"available":true})", true},
        {R"({"available":trueish})", true},
        {R"({"available": true})", false},
        {R"({"available":"true"})", false},
        {R"({"available":True})", false},
        {R"({"available":1})", false},
        {R"({"version":"1.0.1"})", false},
        {R"({"available":tru)", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadJsonFlag(c.reply, "available"), c.expected) << c.reply;
}

TEST(ReplyReader, String) {
    const struct { const char* reply; const char* key; std::string expected; } cases[] = {
        {R"({"version":"1.2.0"})", "version", "1.2.0"},
        {R"({"changelog":"one\ntwo"})", "changelog", "one\ntwo"},
        {R"({"download_url":"https:\/\/x.test\/a.exe"})", "download_url", "https://x.test/a.exe"},
        {R"({"changelog":"say \"hi\" now"})", "changelog", "say \"hi\" now"},
        {R"({"changelog":"a\u00e9b"})", "changelog", "a\\u00e9b"},
        {R"({"changelog":"\b\f\r\t\\"})", "changelog", "\\b\\f\r\t\\"},
        {R"({"version":""})", "version", ""},
        {R"({"version": "1.2.0"})", "version", ""},
        {R"({"version":null})", "version", ""},
        {R"({"version":12})", "version", ""},
        {R"({"version":{"a":"b"}})", "version", ""},
        {R"({"version":"1.2)", "version", ""},
        {R"({"version":"1.2\)", "version", ""},
        {R"({"x":{"version":"0.1"},"version":"1.2.0"})", "version", "0.1"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadJsonString(c.reply, c.key), c.expected) << c.reply;
}

TEST(ReplyReader, Utf8ToWide) {
    EXPECT_EQ(Utf8ToWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(Utf8ToWide("a\xFF"), L"a\uFFFD");
    // Each limit of UTF-8 one step either side: shortest forms, surrogates, the last code point.
    const struct { const char* bytes; std::wstring text; } edges[] = {
        {"\xC1\xBF", L"\uFFFD\uFFFD"}, {"\xC2\x80", L"\u0080"},
        {"\xE0\x9F\xBF", L"\uFFFD"}, {"\xE0\xA0\x80", L"\u0800"},
        {"\xED\x9F\xBF", L"\uD7FF"}, {"\xED\xA0\x80", L"\uFFFD"}, {"\xED\xBF\xBF", L"\uFFFD"}, {"\xEE\x80\x80", L"\uE000"},
        {"\xEF\xBF\xBF", L"\uFFFF"}, {"\xF0\x8F\xBF\xBF", L"\uFFFD"}, {"\xF0\x90\x80\x80", L"\xD800\xDC00"},
        {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"}, {"\xF4\x90\x80\x80", L"\uFFFD"},
    };
    for (const auto& e : edges) EXPECT_EQ(Utf8ToWide(e.bytes), e.text) << e.bytes;
}

TEST(ReplyReader, ShortenText) {
    const struct { std::wstring text; size_t units, lines; std::wstring expected; } cases[] = {
        {L"abc", 3, 1, L"abc"},
        {L"abcd", 3, 5, L"abc..."},
        {L"a\nb\nc", 10, 2, L"a\nb..."},
        {L"a\nb\n", 10, 2, L"a\nb..."},
        {L"a\nb", 10, 2, L"a\nb"},
        {L"ab\xD800\xDC00", 3, 5, L"ab..."},
        {L"ab\xDBFF\xDFFF", 3, 5, L"ab..."},  // never half a pair, up to the last high surrogate
        {L"ab\xDC00\xDC00", 3, 5, L"ab\xDC00..."},
        {L"ab\xD7FF" L"c", 3, 5, L"ab\xD7FF..."},
        {L"", 0, 0, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortenText(c.text, c.units, c.lines), c.expected) << c.text.size();
}

TEST(ReplyReader, Versions) {
    const struct { const wchar_t* candidate; std::vector<int> parsed; bool newer; } cases[] = {
        {L"1.0.1", {1, 0, 1}, true},
        {L"1.0.0", {1, 0, 0}, false},
        {L"1.0", {1, 0, 0}, false},
        {L"2", {2, 0, 0}, true},
        {L"1.0.0.5", {1, 0, 0, 5}, false},
        {L"1.10.0", {1, 10, 0}, true},
        {L"0.9.9", {0, 9, 9}, false},
        {L"V1.2.0", {0, 2, 0}, false},
        {L"1.2.3-beta", {1, 2, 3}, true},
        {L"1..5", {1, 0, 5}, true},
        {L"1.2.", {1, 2, 0}, true},
        {L"", {0, 0, 0}, false},
        {L"-1.0.0", {-1, 0, 0}, false},
        {L".", {0, 0, 0}, false},
        {L" +3.99999999999.-99999999999", {3, 2147483647, -2147483647 - 1}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseVersion(c.candidate), c.parsed) << c.candidate;
        EXPECT_EQ(IsNewerVersion(c.candidate, L"1.0.0"), c.newer) << c.candidate;
    }
    EXPECT_TRUE(IsNewerVersion(L"1.10.0", L"1.9.0"));
}

}  // namespace
