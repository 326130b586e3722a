// Shows the test pattern at x y width height for a bounded time: a known picture for the
// region journey's recordings. Usage: show_pattern.exe X Y WIDTH HEIGHT SECONDS.
#include "tests/windows/PatternWindow.h"

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) return 2;
    ShowPatternWindow(_wtoi(argv[1]), _wtoi(argv[2]), _wtoi(argv[3]), _wtoi(argv[4]));
    PumpMessages(static_cast<DWORD>(_wtoi(argv[5])) * 1000);
    return 0;
}
