#pragma once
#include <windows.h>

// Offers a newer version to the user.
void ShowUpdatePrompt(HWND owner);
