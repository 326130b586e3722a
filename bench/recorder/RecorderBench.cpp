// The recorder's grab against the screen copy it cannot beat, at the screen's own size.
//   recorder_bench.exe grab OUTPUT.mp4 FRAMES   raw BitBlt into a DIB section, then captureFrame
//                                                into the built-in writer, alternately, on a thread
//                                                set up like the capture worker
//   recorder_bench.exe box SECONDS              a box moving across the screen, for recordings
// The grab is the program's own captureFrame (the worker calls nothing else per frame), so the
// figures are those of the real program's grab, its hand-over to the writer included.
#include "recording/Recorder.h"
#include "recording/ScreenPixels.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        UniqueBrush brush(CreateSolidBrush(RGB(240, 140, 20)));
        FillRect(dc, &client, brush.get());
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

int MoveBox(int seconds) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = BoxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZvBenchBox";
    RegisterClassExW(&wc);
    HWND box = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 300,
                               320, 240, nullptr, nullptr, wc.hInstance, nullptr);
    const int width = PhysicalScreenSize().width;
    MSG msg;
    for (const double start = NowMs(); NowMs() - start < seconds * 1000.0; Sleep(15)) {
        const int x = static_cast<int>((NowMs() - start) / 2) % (width - 320);  // 500 pixels a second
        SetWindowPos(box, HWND_TOPMOST, x, 300, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return DestroyWindow(box) ? 0 : 1;
}

void PrintFigures(const char* name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    double total = 0;
    for (double m : ms) total += m;
    std::printf("%s_mean=%.2f\n%s_p99=%.2f\n", name, total / ms.size(), name, ms[(ms.size() * 99) / 100]);
}

int CompareGrabs(const wchar_t* output, int frames) {
    PerMonitorAwareThread physicalPixels;  // as the capture worker runs
    const ScreenSize screen = PhysicalScreenSize();
    Recorder recorder;
    recorder.outputPath = output;
    recorder.frameWidth = screen.width;
    recorder.frameHeight = screen.height;
    if (FAILED(recorder.setupSinkWriter())) return std::fputs("recorder_bench: no writer\n", stderr), 1;

    WindowDc screenDc(nullptr);
    UniqueMemoryDc memory(CreateCompatibleDC(screenDc.get()));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), screen.width, screen.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    UniqueBitmap section(CreateDIBSection(screenDc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !section) return std::fputs("recorder_bench: no DIB section\n", stderr), 1;
    SelectedObject selected(memory.get(), section.get());

    std::vector<double> raw, grab;
    for (int i = 0; i < frames; ++i) {  // alternately, so both see the same moments of a shared machine
        double start = NowMs();
        BitBlt(memory.get(), 0, 0, screen.width, screen.height, screenDc.get(), 0, 0, SRCCOPY);
        GdiFlush();
        raw.push_back(NowMs() - start);
        start = NowMs();
        const HRESULT grabbed = recorder.captureFrame(int64_t{i} * 333'333);
        grab.push_back(NowMs() - start);
        if (FAILED(grabbed)) return std::fprintf(stderr, "recorder_bench: grab failed 0x%08lx\n", grabbed), 1;
    }
    recorder.sinkWriter->Finalize();
    std::printf("size=%dx%d\n", screen.width, screen.height);
    PrintFigures("raw", raw);
    PrintFigures("grab", grab);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"grab") == 0) return CompareGrabs(argv[2], _wtoi(argv[3]));
    if (argc == 3 && std::wcscmp(argv[1], L"box") == 0) return MoveBox(_wtoi(argv[2]));
    std::fputs("usage: recorder_bench grab OUTPUT.mp4 FRAMES | box SECONDS\n", stderr);
    return 2;
}
