#include "ui/MessageLoop.h"

namespace {
bool appQuitRequested = false;
int appExitCode = 0;
}  // namespace

void PostAppQuit(int exitCode) {
    appQuitRequested = true;
    appExitCode = exitCode;
    PostQuitMessage(exitCode);
}

bool AppQuitRequested() { return appQuitRequested; }

int RunMainLoop(HACCEL accelerators) {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got < 0) break;
        if (got == 0) {
            // A secondary window's quit that no nested loop was there to take is not ours.
            if (appQuitRequested) break;
            continue;
        }
        // The message's own target, so an accelerator typed in a child control goes to it.
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    appQuitRequested = false;  // served
    return appExitCode;
}

bool RunNestedLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (appQuitRequested) {
        PostQuitMessage(appExitCode);
        return false;
    }
    return true;
}
