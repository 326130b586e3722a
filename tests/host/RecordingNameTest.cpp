// Names of recordings and the rule that a recording never replaces an existing file.
#include "recording/RecordingName.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(RecordingName, NamedAfterTheLocalStartTime) {
    EXPECT_EQ(RecordingFileName({2026, 12, 5, 21, 42, 7}), L"Zentrovia_20261205_214207.mp4");
    EXPECT_EQ(RecordingFileName({2026, 3, 7, 9, 5, 3}), L"Zentrovia_20260307_090503.mp4");
}

TEST(RecordingName, SeparatorIsAlwaysAdded) {
    EXPECT_EQ(RecordingPath(L"C:\\Users\\me\\Pictures\\Zentrovia", L"a.mp4"),
              L"C:\\Users\\me\\Pictures\\Zentrovia\\a.mp4");
    EXPECT_EQ(RecordingPath(L"D:\\", L"a.mp4"), L"D:\\\\a.mp4");
}

TEST(RecordingName, FreeNameIsKept) {
    const std::wstring path =
        FreeRecordingPath(L"C:\\out", {2026, 12, 5, 21, 42, 7}, [](const std::wstring&) { return false; });
    EXPECT_EQ(path, L"C:\\out\\Zentrovia_20261205_214207.mp4");
}

TEST(RecordingName, TakenNamesGetANumericSuffix) {
    std::set<std::wstring> existing{L"C:\\out\\Zentrovia_20261205_214207.mp4"};
    auto exists = [&](const std::wstring& p) { return existing.count(p) > 0; };
    const StartTime time{2026, 12, 5, 21, 42, 7};
    const std::wstring second = FreeRecordingPath(L"C:\\out", time, exists);
    EXPECT_EQ(second, L"C:\\out\\Zentrovia_20261205_214207_2.mp4");
    existing.insert(second);
    EXPECT_EQ(FreeRecordingPath(L"C:\\out", time, exists), L"C:\\out\\Zentrovia_20261205_214207_3.mp4");
}

TEST(RecordingName, NothingFreeGivesNoPath) {
    EXPECT_TRUE(FreeRecordingPath(L"C:\\out", {2026, 1, 1, 0, 0, 0}, [](const std::wstring&) { return true; }).empty());
}

}  // namespace
