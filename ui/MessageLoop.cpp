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
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The message's own target, so an accelerator typed in a child control goes to it.
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    appQuitRequested = false;  // served
    return static_cast<int>(msg.wParam);
}

LoopEnd RunNestedLoop(HWND window, HANDLE object) {
    for (;;) {
        MSG msg;
        // The window is looked at after every message: one destroyed while a message was sent to
        // it during the peek ends the loop as well as one destroyed by a dispatched message.
        while (IsWindow(window) && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                appQuitRequested = true;
                appExitCode = static_cast<int>(msg.wParam);
                PostQuitMessage(appExitCode);
                return LoopEnd::Quitting;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!IsWindow(window)) return LoopEnd::WindowGone;
        const DWORD woke = MsgWaitForMultipleObjectsEx(object ? 1 : 0, &object, INFINITE, QS_ALLINPUT,
                                                       MWMO_INPUTAVAILABLE);
        if (object && woke == WAIT_OBJECT_0) return LoopEnd::Signalled;
        if (woke == WAIT_FAILED) return LoopEnd::WindowGone;  // nothing left to wait on
    }
}
