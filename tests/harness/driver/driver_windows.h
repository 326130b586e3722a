// Reading windows of other processes: text, class, geometry, bounded waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver_text.h"

namespace zvdriver {

// WM_GETTEXT through SendMessageTimeout, so controls of other processes answer too.
std::wstring WindowText(HWND hwnd, DWORD timeoutMs = 2000);
// The caption the system keeps for a window: never waits for its thread, so a
// busy program cannot stall a search through the top-level windows.
std::wstring Caption(HWND hwnd);
std::wstring ClassName(HWND hwnd);
DWORD ProcessIdOf(HWND hwnd);

// Top-level windows in Z order.
std::vector<HWND> TopLevelWindows();
// Direct children in Z order, or every descendant when `all`.
std::vector<HWND> ChildWindows(HWND parent, bool all);

// hwnd, class, title, rect (screen), client (screen), style, exstyle, pid, visible...
Record DescribeTopLevel(HWND hwnd);
// hwnd, class, text, id, rect relative to the parent's client area, style, exstyle
Record DescribeChild(HWND hwnd);
Record DescribeState(HWND hwnd);

// Polls `found` every 50 ms until it returns true or timeoutMs passes.
bool WaitUntil(const std::function<bool()>& found, int64_t timeoutMs);

}  // namespace zvdriver
