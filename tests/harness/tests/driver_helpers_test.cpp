// The driver's text, argument and BMP helpers, run under Wine like the driver.
#include <gtest/gtest.h>

#include "driver/driver_args.h"
#include "driver/driver_bmp.h"
#include "driver/driver_text.h"
#include "driver/menu_dump.h"

namespace zvdriver {
namespace {

TEST(ParseNumber, ReadsDecimalHexAndSigns) {
    EXPECT_EQ(ParseNumber("1025"), 1025);
    EXPECT_EQ(ParseNumber("0x401"), 0x401);
    EXPECT_EQ(ParseNumber("0XfF"), 255);
    EXPECT_EQ(ParseNumber("-3"), -3);
    EXPECT_EQ(ParseNumber("+7"), 7);
    EXPECT_EQ(ParseNumber("0"), 0);
}

TEST(ParseNumber, AcceptsFullWidthHandles) {
    EXPECT_EQ(ParseNumber("0xffffffffffffffff"), -1);
    EXPECT_EQ(ParseNumber("0x7fffffffffffffff"), INT64_MAX);
}

TEST(ParseNumber, RejectsNonNumbers) {
    EXPECT_FALSE(ParseNumber(""));
    EXPECT_FALSE(ParseNumber("-"));
    EXPECT_FALSE(ParseNumber("0x"));
    EXPECT_FALSE(ParseNumber("12a"));
    EXPECT_FALSE(ParseNumber("0x12g"));
    EXPECT_FALSE(ParseNumber(" 1"));
    EXPECT_FALSE(ParseNumber("0x10000000000000000"));  // 65 bits
    EXPECT_FALSE(ParseNumber("99999999999999999999"));
}

TEST(EscapeField, KeepsEachRecordOnOneLine) {
    EXPECT_EQ(EscapeField("plain"), "plain");
    EXPECT_EQ(EscapeField("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(EscapeField(""), "");
}

TEST(Utf8, RoundTripsNonAscii) {
    const std::wstring text = L"Zentrovia \u00e9\u4e2d\U0001F600";
    const std::string utf8 = Utf8FromWide(text);
    EXPECT_EQ(utf8, "Zentrovia \xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(WideFromUtf8(utf8), text);
    EXPECT_EQ(Utf8FromWide(L""), "");
}

TEST(Record, FormatsKeysValuesHandlesAndRects) {
    Record record;
    record.Add("hwnd", reinterpret_cast<HWND>(0x1004a))
        .Add("title", L"two\twords")
        .Add("rect", RECT{-8, 0, 512, 310})
        .AddHex("style", 0xCA0000)
        .Add("id", int64_t{105})
        .AddFlag("visible", true);
    EXPECT_EQ(record.Line(),
              "hwnd=0x1004a\ttitle=two\\twords\trect=-8,0,512,310\tstyle=0xca0000\tid=105\tvisible=1");
    EXPECT_EQ(Record().Add("empty", L"").Line(), "empty=");
    EXPECT_EQ(FormatHwnd(nullptr), "0x0");
}

TEST(ParseArgs, ReadsCommandAndOptions) {
    ArgsResult result = ParseArgs({"find", "--title", "zentrovia", "--timeout-ms", "0x10"});
    ASSERT_TRUE(result.args) << result.error;
    EXPECT_EQ(result.args->command, "find");
    EXPECT_EQ(Option(*result.args, "title"), "zentrovia");
    EXPECT_EQ(NumberOption(*result.args, "timeout-ms", 5000), 16);
    EXPECT_EQ(NumberOption(*result.args, "pid", 42), 42);
    EXPECT_FALSE(HasOption(*result.args, "class"));
}

TEST(ParseArgs, ReportsUsageErrors) {
    EXPECT_FALSE(ParseArgs({}).args);
    ArgsResult missingValue = ParseArgs({"find", "--title"});
    EXPECT_FALSE(missingValue.args);
    EXPECT_NE(missingValue.error.find("--title"), std::string::npos);
    EXPECT_FALSE(ParseArgs({"find", "title", "x"}).args);
    EXPECT_FALSE(ParseArgs({"find", "--", "x"}).args);
    ArgsResult badNumber = ParseArgs({"send", "--msg", "WM_CLOSE"});
    ASSERT_TRUE(badNumber.args);
    EXPECT_FALSE(NumberOption(*badNumber.args, "msg", 0));
}

TEST(Bmp, HeaderDescribesBottomUp24BitRows) {
    EXPECT_EQ(BmpRowStride(1), 4u);
    EXPECT_EQ(BmpRowStride(4), 12u);
    EXPECT_EQ(BmpRowStride(5), 16u);
    std::vector<uint8_t> header = BmpHeader(5, 3);
    ASSERT_EQ(header.size(), 54u);
    auto le32 = [&](size_t at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 | static_cast<uint32_t>(header[at + 3]) << 24;
    };
    EXPECT_EQ(header[0], 'B');
    EXPECT_EQ(header[1], 'M');
    EXPECT_EQ(le32(2), 54u + 16u * 3u);  // file size
    EXPECT_EQ(le32(10), 54u);            // pixel offset
    EXPECT_EQ(le32(18), 5u);
    EXPECT_EQ(le32(22), 3u);
    EXPECT_EQ(header[28], 24);
    EXPECT_EQ(le32(34), 48u);
}

TEST(DumpMenu, ListsItemsDepthFirstWithFlags) {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING | MF_CHECKED, 101, L"&Open");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING | MF_GRAYED, 105, L"E&xit");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(bar, MF_STRING, 7, L"&Help");

    const std::string dump = DumpMenu(bar);
    DestroyMenu(bar);  // destroys the submenu too

    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = dump.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(dump.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 5u) << dump;
    EXPECT_NE(lines[0].find("path=0\tdepth=0\tpos=0"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("text=&File\tseparator=0\tpopup=1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("path=0/0\tdepth=1\tpos=0\tid=101\ttext=&Open"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("checked=1\tgrayed=0"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("path=0/1"), std::string::npos);
    EXPECT_NE(lines[2].find("separator=1"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("id=105\ttext=E&xit"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("grayed=1"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("path=1\tdepth=0\tpos=1\tid=7\ttext=&Help\tseparator=0\tpopup=0"), std::string::npos)
        << lines[4];
    EXPECT_EQ(DumpMenu(nullptr), "");
}

}  // namespace
}  // namespace zvdriver
