#pragma once
// Physical screen pixels in a program whose windows stay DPI-unaware, so that Windows keeps
// scaling the main window and the dialogs. Only the threads and windows that deal in screen
// pixels (the capture worker, the region selector) run per-monitor aware. Per-thread awareness
// exists from Windows 10 1607 on and is loaded at run time, so the program still starts where it
// is missing; there ScreenScale.h maps what those threads see onto the physical pixels.
#include "recording/ScreenScale.h"

#include <windows.h>

// The primary screen's size in physical pixels, from its display mode, which Windows does not
// scale for DPI-unaware programs; the calling thread's view of it where the mode is unknown.
ScreenSize PhysicalScreenSize();

// The primary screen's size as the calling thread sees it.
ScreenSize SeenScreenSize();

// Makes the calling thread per-monitor DPI aware where Windows offers it (version 2 of that
// awareness where known, else the first); windows it creates meanwhile keep that awareness.
// Puts the thread's earlier awareness back on destruction.
class PerMonitorAwareThread {
public:
    PerMonitorAwareThread();
    ~PerMonitorAwareThread();
    PerMonitorAwareThread(const PerMonitorAwareThread&) = delete;
    PerMonitorAwareThread& operator=(const PerMonitorAwareThread&) = delete;

private:
    DPI_AWARENESS_CONTEXT previous_ = nullptr;  // null: nothing was changed
};
