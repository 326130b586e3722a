// Layout, picture geometry, frame sizes and the status clock.
#include "app/ButtonStrip.h"
#include "app/DurationText.h"
#include "app/images/IconFit.h"
#include "recording/RecordingGeometry.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ButtonStrip, SixButtonsShareTheStripWithEqualGaps) {
    EXPECT_EQ(StripGap(6), 27);
    const int expected[] = {47, 122, 197, 272, 347, 422};
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(StripButtonX(i, 6), expected[i - 1]) << "button " << i;
    // The last button ends inside the strip.
    EXPECT_LE(StripButtonX(6, 6) + kImageButtonSize, kStripLeft + kStripWidth);
}

TEST(IconFit, IconsFitTheCentredBoxKeepingTheirShape) {
    struct Case {
        int w, h;
        IconPlacement expected;
    } cases[] = {
        {122, 121, {6, 6, 36, 35}},  // record
        {139, 138, {6, 6, 35, 35}},  // pause: 36/139*139 falls just short of 36 in float
        {141, 128, {6, 8, 36, 32}},  // full screen
        {133, 133, {6, 6, 36, 36}},  // microphone
        {18, 9, {6, 15, 36, 18}},    // small icons grow
    };
    for (const Case& c : cases) {
        const IconPlacement p = FitIcon(c.w, c.h);
        EXPECT_EQ(p.x, c.expected.x) << c.w << "x" << c.h;
        EXPECT_EQ(p.y, c.expected.y) << c.w << "x" << c.h;
        EXPECT_EQ(p.width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_EQ(p.height, c.expected.height) << c.w << "x" << c.h;
    }
}

TEST(FrameSize, EvenAndAtLeastSixteen) {
    const FrameSize odd = FrameSizeFromRegion(1921, 1081);
    EXPECT_EQ(odd.width, 1920);
    EXPECT_EQ(odd.height, 1080);
    const FrameSize narrow = FrameSizeFromRegion(10, 300);
    EXPECT_EQ(narrow.width, 16);
    EXPECT_EQ(narrow.height, 300);
    const FrameSize tiny = FrameSizeFromRegion(0, -5);
    EXPECT_EQ(tiny.width, 16);
    EXPECT_EQ(tiny.height, 16);
    EXPECT_EQ(FrameSizeFromRegion(17, 16).width, 16);
    EXPECT_EQ(FrameSizeFromRegion(2560, 1440).width, 2560);
}

TEST(DurationText, HoursMinutesSecondsWithUncappedHours) {
    EXPECT_EQ(FormatDuration(0), L"00:00:00");
    EXPECT_EQ(FormatDuration(999), L"00:00:00");
    EXPECT_EQ(FormatDuration(10'000), L"00:00:10");
    EXPECT_EQ(FormatDuration(3'599'999), L"00:59:59");
    EXPECT_EQ(FormatDuration(3'600'000), L"01:00:00");
    EXPECT_EQ(FormatDuration(100u * 3'600'000u), L"100:00:00");
    EXPECT_EQ(FormatDuration(UINT32_MAX), L"1193:02:47");
}

TEST(DurationText, TickArithmeticWrapsAround) {
    // Started 5 s before GetTickCount wrapped, now 7 s after: 12 s, less 2 s paused.
    const uint32_t start = UINT32_MAX - 4'999;
    const uint32_t now = 7'000;
    EXPECT_EQ(ElapsedRecordingMs(now, start, 2'000), 10'000u);
    EXPECT_EQ(ElapsedAtPauseMs(now, start, 2'000), 10'000u);
    // A pause tick that says less than the paused total shows zero, not a huge number.
    EXPECT_EQ(ElapsedAtPauseMs(start + 1'000, start, 2'000), 0u);
    EXPECT_EQ(ElapsedAtPauseMs(start + 2'000, start, 2'000), 0u);
}

}  // namespace
