#pragma once
// The main message loop and the nested loops of the modal secondary windows share one quit
// request: a secondary window ends its own loop with the quit message, while a quit meant
// for the whole program is marked here and passed on by every nested loop it reaches.
#include <windows.h>

// Asks the whole program to end (the main window's destruction, the update exit path).
void PostAppQuit(int exitCode);
bool AppQuitRequested();

// Runs the main loop with the accelerator table until the program is asked to end; returns
// the exit code.
int RunMainLoop(HACCEL accelerators);

// Runs a nested loop until the quit message; returns false when the quit was meant for the
// whole program (it has been passed on to the loop outside).
bool RunNestedLoop();
