#pragma once
// Offers a newer version, downloads its installer with a progress window and starts it.
#include <windows.h>
#include <shellapi.h>

#include "ui/Messages.h"

void ShowUpdatePrompt(HWND owner);

// Starts the downloaded installer; replaceable so a test build can watch the request.
extern BOOL (*launchInstaller)(SHELLEXECUTEINFOW& request);
