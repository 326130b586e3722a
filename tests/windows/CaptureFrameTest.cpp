// captureFrame on a real screen (Wine on Xvfb) into a counting fake writer: the frame's
// layout, its timing fields, where the cursor is drawn, and that no grab leaks.
#include "FakeSinkWriter.h"
#include "recording/Recorder.h"

#include <gtest/gtest.h>

namespace {

constexpr int kLeft = 300, kTop = 200, kWidth = 200, kHeight = 120;
constexpr COLORREF kPatternTop = RGB(255, 0, 0);
constexpr COLORREF kPatternBottom = RGB(0, 0, 255);

// Painted red above its middle and blue below, so the rows' order shows.
LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return message == WM_ERASEBKGND ? 1 : DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    for (RECT half : {RECT{0, 0, client.right, client.bottom / 2}, RECT{0, client.bottom / 2, client.right, client.bottom}}) {
        HBRUSH brush = CreateSolidBrush(half.top == 0 ? kPatternTop : kPatternBottom);
        FillRect(dc, &half, brush);
        DeleteObject(brush);
    }
    EndPaint(window, &paint);
    return 0;
}

void PumpMessages(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(5);
    }
}

// A topmost pattern window of its own class, so that `cursor` is its cursor.
HWND ShowPatternWindow(int width, int height, HCURSOR cursor = nullptr) {
    static int serial = 0;
    wchar_t className[32];
    wsprintfW(className, L"ZvPattern%d", ++serial);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PatternProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, className, L"pattern", WS_POPUP | WS_VISIBLE, kLeft, kTop, width,
                                  height, nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    PumpMessages(300);
    return window;
}

// Pixel (x, y) of a bottom-up BGRX frame, y counted from the top of the rectangle.
COLORREF FramePixel(const std::vector<BYTE>& frame, int x, int y) {
    const size_t offset = (size_t(kHeight - 1 - y) * kWidth + x) * 4;
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
    int pixelsDiffering(const std::vector<BYTE>& frame) {
        int differing = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                differing += FramePixel(frame, x, y) != (y < kHeight / 2 ? kPatternTop : kPatternBottom);
        return differing;
    }

    Recorder recorder_;
    FakeSinkWriterScript script_;
    HWND window_ = nullptr;
};

TEST_F(CaptureFrame, WritesTheRectangleBottomUpWithTimeAndFixedDurationAndLeaksNothing) {
    window_ = ShowPatternWindow(kWidth, kHeight);
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const RecordedSample& sample = grabWithPointerAt(1900, 1060, 123'456'789);
    EXPECT_EQ(sample.time, 123'456'789);
    EXPECT_EQ(sample.duration, 333'333);
    ASSERT_EQ(sample.bytes.size(), size_t(kWidth) * kHeight * 4);
    // The first row in memory is the bottom of the rectangle.
    EXPECT_EQ(RGB(sample.bytes[4 * 50 + 2], sample.bytes[4 * 50 + 1], sample.bytes[4 * 50]), kPatternBottom);
    EXPECT_EQ(pixelsDiffering(sample.bytes), 0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(recorder_.captureFrame(i * 333'333), S_OK);
    // Without a writer the media step fails, and the grab still cleans up.
    recorder_.sinkWriter.reset();
    EXPECT_TRUE(FAILED(recorder_.captureFrame(0)));
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + 1) << "GDI objects grew over 22 grabs";
    EXPECT_EQ(script_.samples.size(), 21u);
}

TEST_F(CaptureFrame, CursorIsDrawnWithItsHotSpotOnThePointerAndClippedToTheFrame) {
    BYTE opaque[32 * 4] = {}, black[32 * 4] = {};
    HCURSOR square = CreateCursor(GetModuleHandleW(nullptr), 16, 16, 32, 32, opaque, black);  // hot spot in the centre
    ASSERT_NE(square, nullptr);
    // The window reaches beyond the frame, so the cursor shows outside it too.
    window_ = ShowPatternWindow(kWidth + 40, kHeight + 40, square);
    struct Case {
        int x, y;
        int blackPixels;
    } cases[] = {
        {100, 40, 32 * 32},      // whole square, centred on the pointer
        {0, 0, 16 * 16},         // only the quarter below and right of the hot spot
        {kWidth, 40, 0},         // one past the right edge: the image would reach in, the hot spot does not
        {50, kHeight, 0},        // one past the bottom edge
        {50, -1, 0},             // above the top edge
    };
    for (const Case& c : cases) {
        const RecordedSample& sample = grabWithPointerAt(kLeft + c.x, kTop + c.y);
        int black = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) black += FramePixel(sample.bytes, x, y) == RGB(0, 0, 0);
        EXPECT_EQ(black, c.blackPixels) << "pointer at " << c.x << "," << c.y;
        if (c.blackPixels == 32 * 32) {
            EXPECT_EQ(FramePixel(sample.bytes, c.x - 16, c.y - 16), RGB(0, 0, 0));
            EXPECT_EQ(FramePixel(sample.bytes, c.x + 15, c.y + 15), RGB(0, 0, 0));
        }
        if (c.blackPixels == 16 * 16) { EXPECT_EQ(FramePixel(sample.bytes, 15, 15), RGB(0, 0, 0)); }
    }
    DestroyWindow(window_);
    window_ = nullptr;
    DestroyCursor(square);
}

}  // namespace
