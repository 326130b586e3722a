// How the recorder keeps up at full screen under this system: the cost of one grab, and the
// frame rate of a real recording while a box moves across the screen.
// With a third argument, part of a capture device's name, the recording has that device's sound;
// the process's CPU time over the recording is printed either way.
// Usage: recorder_bench.exe OUTPUT.mp4 SECONDS [SOUND DEVICE NAME PART]
#include "recording/Recorder.h"
#include "recording/audio/AudioDeviceList.h"

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
        HBRUSH brush = CreateSolidBrush(RGB(240, 140, 20));
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND ShowBox() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = BoxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZvBenchBox";
    RegisterClassExW(&wc);
    return CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 300, 320, 240, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](FILETIME t) { return ((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: recorder_bench OUTPUT.mp4 SECONDS [SOUND DEVICE NAME PART]\n", stderr);
        return 2;
    }
    const int seconds = _wtoi(argv[2]);
    HWND box = ShowBox();
    Pump();
    Recorder recorder;
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);

    // Grab cost alone: everything up to the hand-over to a writer (none is open).
    recorder.frameWidth = width;
    recorder.frameHeight = height;
    std::vector<double> grabs;
    for (int i = 0; i < 30; ++i) {
        const double start = NowMs();
        recorder.captureFrame(0);
        grabs.push_back(NowMs() - start);
    }
    double total = 0;
    for (double g : grabs) total += g;
    std::printf("grab_ms_mean=%.1f\n", total / grabs.size());

    if (argc == 4)
        for (const AudioDevice& device : AudioDeviceList())
            if (device.name.find(argv[3]) != std::wstring::npos)
                recorder.soundSource = {SoundSourceKind::Device, device.endpointId};
    if (!StartRecording(recorder, 0, 0, width, height, argv[1])) {
        std::fputs("recorder_bench: the recording did not start\n", stderr);
        return 1;
    }
    const double start = NowMs(), cpuStart = ProcessCpuMs();
    int x = 0;
    while (NowMs() - start < seconds * 1000.0) {
        x = (x + 8) % (width - 320);
        SetWindowPos(box, HWND_TOPMOST, x, 300, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        Pump();
        Sleep(15);
    }
    const double stopStart = NowMs();
    std::printf("cpu_percent=%.0f\nsound=%s\n", 100 * (ProcessCpuMs() - cpuStart) / (stopStart - start),
                recorder.soundSource.kind != SoundSourceKind::None && SUCCEEDED(recorder.soundStartFailure) ? "on" : "off");
    recorder.stop();
    std::printf("recorded_s=%.2f\nstop_ms=%.0f\nsize=%dx%d\n", (stopStart - start) / 1000.0, NowMs() - stopStart, width,
                height);
    DestroyWindow(box);
    return 0;
}
