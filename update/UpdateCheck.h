#pragma once
#include <windows.h>

// The start-up update check, run once per run on its own thread.
DWORD WINAPI UpdateCheckThread(LPVOID);
