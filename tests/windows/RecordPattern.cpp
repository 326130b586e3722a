// Records a pattern window through the Recorder as the program does, with the platform's
// writer first and the built-in one as fallback: 1.5 s recording, 1.5 s pause, 1 s
// recording. The pointer rests on the window with a square cursor whose hot spot is its
// centre. Usage: record_pattern.exe OUTPUT.mp4; exit code 0 when the recording was made.
#include "PatternWindow.h"
#include "recording/Recorder.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: record_pattern OUTPUT.mp4\n", stderr);
        return 2;
    }
    constexpr int kLeft = 200, kTop = 150, kWidth = 320, kHeight = 240;
    HCURSOR square = CreateSquareCursor();
    HWND window = ShowPatternWindow(kLeft, kTop, kWidth, kHeight, square);
    SetCursorPos(kLeft + kWidth / 2, kTop + kHeight / 2);
    PumpMessages(200);

    int result = 0;
    {
        Recorder recorder;
        if (!StartRecording(recorder, kLeft, kTop, kWidth, kHeight, argv[1])) {
            std::fputs("record_pattern: the recording did not start\n", stderr);
            result = 1;
        } else {
            PumpMessages(1500);
            PauseRecording(recorder);
            PumpMessages(1500);
            ResumeRecording(recorder);
            PumpMessages(1000);
            recorder.stop();
        }
    }
    DestroyWindow(window);
    DestroyCursor(square);
    return result;
}
