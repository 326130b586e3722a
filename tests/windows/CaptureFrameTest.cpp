// captureFrame on a real screen (Wine on Xvfb) into a counting fake writer: the frame's
// layout, its timing fields, where the cursor is drawn, and that the grab's surface lasts and
// then goes. Run as
// `capture_frame_test pattern X Y WIDTH HEIGHT SECONDS`, it only shows its pattern there,
// topmost, for the region journey's recordings.
#include "FakeSinkWriter.h"
#include "recording/Recorder.h"
#include "region/RegionSelector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

constexpr int kLeft = 300, kTop = 200, kWidth = 200, kHeight = 120;
HCURSOR patternCursor = nullptr;

// The top half red, the bottom half blue, a 10-pixel green band down the left edge: the order
// of rows and of columns shows.
COLORREF PatternColour(int x, int y, int height) {
    return x < 10 ? RGB(0, 255, 0) : y < height / 2 ? RGB(255, 0, 0) : RGB(0, 0, 255);
}

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) return SetCursor(patternCursor), TRUE;
    if (message != WM_PAINT) return message == WM_ERASEBKGND ? 1 : DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT c;
    GetClientRect(window, &c);
    const RECT parts[] = {{0, 0, c.right, c.bottom / 2}, {0, c.bottom / 2, c.right, c.bottom}, {0, 0, 10, c.bottom}};
    for (const RECT& part : parts) {  // each in the pattern's colour at its top right pixel
        HBRUSH brush = CreateSolidBrush(PatternColour(part.right - 1, part.top, c.bottom));
        FillRect(dc, &part, brush);
        DeleteObject(brush);
    }
    EndPaint(window, &paint);
    return 0;
}

// Pumps for `ms` or, given a condition, until it holds (false if it never did).
bool PumpMessages(DWORD ms, const std::function<bool()>& done = nullptr) {
    MSG msg;
    for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(5)) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done && done()) return true;
    }
    return false;
}

// A topmost pattern window showing `cursor` over it.
HWND ShowPattern(int x, int y, int width, int height, HCURSOR cursor) {
    patternCursor = cursor;
    WNDCLASSEXW wc{sizeof(wc), 0, PatternProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr,
                   L"ZvPattern", nullptr};
    RegisterClassExW(&wc);  // fails harmlessly the second time
    HWND window = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"pattern", WS_POPUP | WS_VISIBLE, x, y, width,
                                  height, nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    EXPECT_TRUE(PumpMessages(20000, [&] {  // painted: the top right pixel is on the screen in its colour
        HDC screen = GetDC(nullptr);
        const COLORREF shown = GetPixel(screen, x + width - 1, y);
        return ReleaseDC(nullptr, screen), shown == PatternColour(width - 1, 0, height);
    }));
    return window;
}

// Pixel (x, y) of a bottom-up BGRX frame, y counted from the top of the rectangle: a frame
// written top-down shows its pattern upside down.
COLORREF FramePixel(const std::vector<BYTE>& frame, int x, int y) {
    const size_t offset = (size_t(kHeight - 1 - y) * kWidth + x) * 4;
    return RGB(frame[offset + 2], frame[offset + 1], frame[offset]);
}

class CaptureFrame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateFakeSinkWriter(script_, recorder_.sinkWriter.put()), S_OK);
        ASSERT_EQ(recorder_.sinkWriter->AddStream(nullptr, &recorder_.streamIndex), S_OK);  // the picture's stream
        recorder_.captureX = kLeft, recorder_.captureY = kTop;
        recorder_.frameWidth = kWidth, recorder_.frameHeight = kHeight;
    }
    void TearDown() override { DestroyWindow(window_); }
    // Moves the pointer, lets the window set its cursor, grabs one frame.
    const RecordedSample& grabWithPointerAt(int x, int y, LONGLONG time = 0) {
        SetCursorPos(x, y);
        RECT shown{};
        GetWindowRect(window_, &shown);
        EXPECT_TRUE(PumpMessages(20000, [&] {  // the pointer there, with the window's cursor when over it
            CURSORINFO info{};
            info.cbSize = sizeof(info);
            return GetCursorInfo(&info) && info.ptScreenPos.x == x && info.ptScreenPos.y == y &&
                   (!PtInRect(&shown, info.ptScreenPos) || info.hCursor == patternCursor);
        }));
        EXPECT_EQ(recorder_.captureFrame(time), S_OK);
        return script_.samples.back();
    }

    Recorder recorder_;
    FakeSinkWriterScript script_;
    HWND window_ = nullptr;
};

TEST_F(CaptureFrame, WritesTheRectangleBottomUpWithTimeAndFixedDurationFromOneSurfaceReleasedAtTheEnd) {
    window_ = ShowPattern(kLeft, kTop, kWidth, kHeight, LoadCursorW(nullptr, IDC_ARROW));
    const RecordedSample& sample = grabWithPointerAt(1900, 1060, 123'456'789);
    EXPECT_EQ(sample.time, 123'456'789);
    EXPECT_EQ(sample.duration, 333'333);
    ASSERT_EQ(sample.bytes.size(), size_t(kWidth) * kHeight * 4);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) differing += FramePixel(sample.bytes, x, y) != PatternColour(x, y, kHeight);
    EXPECT_EQ(differing, 0);
    const HDC memory = recorder_.memoryDC.get();
    const HBITMAP bitmap = recorder_.frameBitmap.get();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(recorder_.captureFrame(i * 333'333), S_OK);
    // Without a writer the media step fails, and the grab still cleans up.
    recorder_.sinkWriter.reset();
    EXPECT_TRUE(FAILED(recorder_.captureFrame(0)));
    EXPECT_EQ(script_.samples.size(), 21u);
    // The window system's own view: one DC and one bitmap for all 22 grabs, both gone once released.
    EXPECT_EQ(GetObjectType(memory), DWORD(OBJ_MEMDC));
    EXPECT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP));
    EXPECT_EQ(recorder_.memoryDC.get(), memory);
    ReleaseGrabSurface(recorder_);
    EXPECT_EQ(GetObjectType(memory), 0u);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}

TEST_F(CaptureFrame, CursorIsDrawnWithItsHotSpotOnThePointerAndClippedToTheFrame) {
    BYTE opaque[32 * 4] = {}, black[32 * 4] = {};
    HCURSOR square = CreateCursor(GetModuleHandleW(nullptr), 16, 16, 32, 32, opaque, black);  // hot spot in the centre
    ASSERT_NE(square, nullptr);
    // The window reaches beyond the frame, so the cursor shows outside it too.
    window_ = ShowPattern(kLeft, kTop, kWidth + 40, kHeight + 40, square);
    struct Case {
        int x, y, blackPixels;
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
        // The square's corners where the hot spot puts them.
        if (c.blackPixels == 32 * 32) { EXPECT_EQ(FramePixel(sample.bytes, c.x - 16, c.y - 16), RGB(0, 0, 0)); }
        if (c.blackPixels) { EXPECT_EQ(FramePixel(sample.bytes, c.x + 15, c.y + 15), RGB(0, 0, 0)); }
    }
    DestroyWindow(std::exchange(window_, nullptr));
    DestroyCursor(square);
}

// The selector from a DPI-unaware thread, as the program's window thread is on Windows (Wine
// starts every thread per-monitor aware): its window runs per-monitor aware all the same, so the
// drag is in physical pixels, and the thread gets its own awareness back for the main window.
TEST(RegionSelectorPixels, TheWindowIsPerMonitorAwareAndTheThreadKeepsItsOwn) {
    const DPI_AWARENESS_CONTEXT previous = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_UNAWARE);
    static int windowAwareness = -1;
    SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        HWND window = FindWindowW(L"RegionSelectorClass", nullptr);
        windowAwareness = GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window));
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    RegionSelector selector;
    EXPECT_FALSE(selector.run());
    EXPECT_EQ(windowAwareness, DPI_AWARENESS_PER_MONITOR_AWARE);
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()), DPI_AWARENESS_UNAWARE);
    SetThreadDpiAwarenessContext(previous);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "pattern") {
        const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
        HWND window = ShowPattern(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), arrow);
        PumpMessages(atoi(argv[6]) * 1000);
        return DestroyWindow(window) ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
