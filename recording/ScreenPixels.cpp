#include "recording/ScreenPixels.h"

namespace {

using SetThreadDpiAwarenessContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);

// Looked up once: user32 has it from Windows 10 1607 on.
SetThreadDpiAwarenessContextFn SetThreadAwareness() {
    static const auto function = reinterpret_cast<SetThreadDpiAwarenessContextFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    return function;
}

}  // namespace

ScreenSize PhysicalScreenSize() {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmPelsWidth > 0 && mode.dmPelsHeight > 0)
        return {static_cast<int32_t>(mode.dmPelsWidth), static_cast<int32_t>(mode.dmPelsHeight)};
    return SeenScreenSize();
}

ScreenSize SeenScreenSize() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

PerMonitorAwareThread::PerMonitorAwareThread() {
    const SetThreadDpiAwarenessContextFn set = SetThreadAwareness();
    if (!set) return;
    // Version 2 came with 1703; 1607 refuses it with null and takes the first version.
    previous_ = set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (!previous_) previous_ = set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
}

PerMonitorAwareThread::~PerMonitorAwareThread() {
    if (previous_) SetThreadAwareness()(previous_);
}
