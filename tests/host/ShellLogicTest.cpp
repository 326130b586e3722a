// Frame sizes, the status clock and the names of recordings.
#include "app/DurationText.h"
#include "recording/RecordingGeometry.h"
#include "recording/RecordingName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

// Both sides rounded down to even and raised to 16, whatever the drag gave (a drag past the
// screen's top-left edge can give nothing or less), also past 16 bits.
TEST(FrameSize, EvenAndAtLeastSixteenEachWay) {
    struct { int32_t width, height, evenWidth, evenHeight; } cases[] = {
        {10, 1081, 16, 1080}, {0, 17, 16, 16},        {-5, 15, 16, 16},
        {16, 18, 16, 18},     {1921, 19, 1920, 18},   {65537, -70000, 65536, 16},
    };
    for (const auto& c : cases) {
        const FrameSize size = FrameSizeFromRegion(c.width, c.height);
        EXPECT_EQ(size.width, c.evenWidth) << c.width;
        EXPECT_EQ(size.height, c.evenHeight) << c.height;
    }
}

TEST(DurationText, UncappedHoursAndTickArithmeticThatWrapsAround) {
    EXPECT_EQ(FormatDuration(3'599'999), L"00:59:59");
    EXPECT_EQ(FormatDuration(UINT32_MAX), L"1193:02:47");
    // Started 5 s before GetTickCount wrapped, now 7 s after: 12 s, less 2 s paused.
    const uint32_t start = UINT32_MAX - 4'999;
    EXPECT_EQ(ElapsedRecordingMs(7'000, start, 2'000), 10'000u);
    EXPECT_EQ(ElapsedAtPauseMs(7'000, start, 2'000), 10'000u);
    // A pause tick that says less than the paused total shows zero, not a huge number.
    EXPECT_EQ(ElapsedAtPauseMs(start + 1'000, start, 2'000), 0u);
}

// The plain name and "_2" are the recording journey's; here the names after them, and no name at all.
TEST(RecordingName, NeverAnExistingFile) {
    const StartTime time{2026, 3, 7, 9, 5, 3};
    const std::set<std::wstring> existing{L"C:\\out\\Zentrovia_20260307_090503.mp4",
                                          L"C:\\out\\Zentrovia_20260307_090503_2.mp4"};
    auto exists = [&](const std::wstring& p) { return existing.count(p) > 0; };
    EXPECT_EQ(FreeRecordingPath(L"C:\\out", time, exists), L"C:\\out\\Zentrovia_20260307_090503_3.mp4");
    EXPECT_TRUE(FreeRecordingPath(L"C:\\out", time, [](const std::wstring&) { return true; }).empty());
}

}  // namespace
