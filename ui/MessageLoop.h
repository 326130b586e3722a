#pragma once
// The main message loop and the nested loops of the modal secondary windows. Each nested loop
// ends when its own window is gone (or what it waits on is signalled); the quit message means
// only that the whole program is ending, and every loop it reaches passes it on outward.
#include <windows.h>

// Asks the whole program to end (the main window's destruction, the update exit path).
void PostAppQuit(int exitCode);
bool AppQuitRequested();

// Runs the main loop with the accelerator table until the quit message; returns the exit code.
int RunMainLoop(HACCEL accelerators);

enum class LoopEnd { WindowGone, Signalled, Quitting };

// Dispatches every message of the thread, without accelerators, until `window` is gone or
// `object` (when given) is signalled. A quit message is marked as the program's end, posted
// again for the loop outside and ends this loop with Quitting.
LoopEnd RunNestedLoop(HWND window, HANDLE object = nullptr);
