// captureFrame on a real screen (Wine on Xvfb) into a counting fake writer: the frame's
// layout, its timing fields and where the cursor is drawn.
#include "FakeSinkWriter.h"
#include "PatternWindow.h"
#include "recording/Recorder.h"

#include <gtest/gtest.h>

namespace {

constexpr int kLeft = 300, kTop = 200, kWidth = 200, kHeight = 120;

// Pixel (x, y) of a bottom-up BGRX frame, y counted from the top of the rectangle.
COLORREF FramePixel(const std::vector<BYTE>& frame, int width, int height, int x, int y) {
    const size_t offset = (size_t(height - 1 - y) * width + x) * 4;
    return RGB(frame[offset + 2], frame[offset + 1], frame[offset]);
}

class CaptureFrame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateFakeSinkWriter(script_, recorder_.sinkWriter.put()), S_OK);
        recorder_.captureX = kLeft;
        recorder_.captureY = kTop;
        recorder_.frameWidth = kWidth;
        recorder_.frameHeight = kHeight;
        recorder_.streamIndex = 0;
    }
    void TearDown() override {
        if (window_) DestroyWindow(window_);
        recorder_.sinkWriter.reset();
    }
    // Moves the pointer, lets the window set its cursor, grabs one frame.
    const RecordedSample& grabWithPointerAt(int x, int y, LONGLONG time = 0) {
        SetCursorPos(x, y);
        PumpMessages(150);
        EXPECT_EQ(recorder_.captureFrame(time), S_OK);
        return script_.samples.back();
    }
    int pixelsDifferingFromPattern(const std::vector<BYTE>& frame) {
        int differing = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (FramePixel(frame, kWidth, kHeight, x, y) != PatternColour(x, y, kHeight)) ++differing;
        return differing;
    }

    Recorder recorder_;
    FakeSinkWriterScript script_;
    HWND window_ = nullptr;
};

TEST_F(CaptureFrame, WritesTheRectangleBottomUpWithTimeAndFixedDuration) {
    window_ = ShowPatternWindow(kLeft, kTop, kWidth, kHeight);
    const RecordedSample& sample = grabWithPointerAt(1900, 1060, 123'456'789);
    EXPECT_EQ(sample.time, 123'456'789);
    EXPECT_EQ(sample.duration, 333'333);
    ASSERT_EQ(sample.bytes.size(), size_t(kWidth) * kHeight * 4);
    // The first row in memory is the bottom of the rectangle.
    EXPECT_EQ(RGB(sample.bytes[4 * 50 + 2], sample.bytes[4 * 50 + 1], sample.bytes[4 * 50]), kPatternBottom);
    const size_t lastRow = size_t(kHeight - 1) * kWidth * 4;
    EXPECT_EQ(RGB(sample.bytes[lastRow + 4 * 50 + 2], sample.bytes[lastRow + 4 * 50 + 1],
                  sample.bytes[lastRow + 4 * 50]),
              kPatternTop);
    EXPECT_EQ(pixelsDifferingFromPattern(sample.bytes), 0);
}

TEST_F(CaptureFrame, SixteenBySixteenGivesAKilobyteFrame) {
    window_ = ShowPatternWindow(kLeft, kTop, kWidth, kHeight);
    recorder_.frameWidth = 16;
    recorder_.frameHeight = 16;
    const RecordedSample& sample = grabWithPointerAt(1900, 1060);
    EXPECT_EQ(sample.bytes.size(), 1024u);
}

TEST_F(CaptureFrame, CursorIsDrawnWithItsHotSpotOnThePointer) {
    HCURSOR square = CreateSquareCursor();
    ASSERT_NE(square, nullptr);
    window_ = ShowPatternWindow(kLeft, kTop, kWidth, kHeight, square);
    const int px = 100, py = 40;
    const RecordedSample& sample = grabWithPointerAt(kLeft + px, kTop + py);
    // The square covers (px-16 .. px+15, py-16 .. py+15): centred on the pointer, not hanging from it.
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px, py), RGB(0, 0, 0));
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px - 16, py - 16), RGB(0, 0, 0));
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px + 15, py + 15), RGB(0, 0, 0));
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px - 17, py), kPatternTop);
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px + 16, py), kPatternTop);
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, px, py + 16), PatternColour(px, py + 16, kHeight));
    EXPECT_EQ(pixelsDifferingFromPattern(sample.bytes), 32 * 32);
    DestroyWindow(window_);
    window_ = nullptr;
    DestroyCursor(square);
}

TEST_F(CaptureFrame, PointerAtTheOriginClipsTheCursor) {
    HCURSOR square = CreateSquareCursor();
    window_ = ShowPatternWindow(kLeft, kTop, kWidth, kHeight, square);
    const RecordedSample& sample = grabWithPointerAt(kLeft, kTop);
    // Only the quarter below and right of the hot spot lands in the frame.
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(FramePixel(sample.bytes, kWidth, kHeight, 15, 15), RGB(0, 0, 0));
    EXPECT_EQ(pixelsDifferingFromPattern(sample.bytes), 16 * 16);
    DestroyWindow(window_);
    window_ = nullptr;
    DestroyCursor(square);
}

TEST_F(CaptureFrame, NoCursorWhenThePointerIsOutsideOrOnePastTheEdge) {
    HCURSOR square = CreateSquareCursor();
    window_ = ShowPatternWindow(kLeft, kTop, kWidth + 40, kHeight + 40, square);  // the cursor shows beyond too
    const int pointers[][2] = {
        {kLeft + kWidth, kTop + 40},   // one past the right edge: image would reach in, hot spot does not
        {kLeft + 50, kTop + kHeight},  // one past the bottom edge
        {kLeft + 50, kTop - 1},        // above the top edge
    };
    for (const auto& pointer : pointers) {
        const RecordedSample& sample = grabWithPointerAt(pointer[0], pointer[1]);
        int differing = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (FramePixel(sample.bytes, kWidth, kHeight, x, y) == RGB(0, 0, 0)) ++differing;
        EXPECT_EQ(differing, 0) << "pointer at " << pointer[0] << "," << pointer[1];
    }
    DestroyWindow(window_);
    window_ = nullptr;
    DestroyCursor(square);
}

TEST_F(CaptureFrame, FailingWriterLosesOnlyThatFrameAndLeaksNoGdiObjects) {
    window_ = ShowPatternWindow(kLeft, kTop, kWidth, kHeight);
    SetCursorPos(1900, 1060);
    const DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(recorder_.captureFrame(i * 333'333), S_OK);
    // Without a writer the media step fails, and the grab still cleans up.
    recorder_.sinkWriter.reset();
    EXPECT_TRUE(FAILED(recorder_.captureFrame(0)));
    const DWORD after = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    EXPECT_LE(after, before + 1) << "GDI objects grew over 21 grabs";
    EXPECT_EQ(script_.samples.size(), 20u);
}

}  // namespace
