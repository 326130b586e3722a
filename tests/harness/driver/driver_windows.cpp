#include "driver_windows.h"

namespace zvdriver {

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

RECT ClientRectOnScreen(HWND hwnd) {
    RECT client{};
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return client;
}

}  // namespace

std::wstring WindowText(HWND hwnd, DWORD timeoutMs) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             timeoutMs, &copied)) {
        return {};
    }
    text.resize(copied < text.size() ? copied : text.size() - 1);
    return text;
}

std::wstring Caption(HWND hwnd) {
    wchar_t text[1024] = {};
    int length = GetWindowTextW(hwnd, text, static_cast<int>(std::size(text)));
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    int length = GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

DWORD ProcessIdOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildWindows(HWND parent, bool all) {
    std::vector<HWND> windows;
    if (all) {
        EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&windows));
        return windows;
    }
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        windows.push_back(child);
    }
    return windows;
}

Record DescribeTopLevel(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    Record record;
    record.Add("hwnd", hwnd)
        .Add("class", ClassName(hwnd))
        .Add("title", Caption(hwnd))
        .Add("rect", rect)
        .Add("client", ClientRectOnScreen(hwnd))
        .AddHex("style", static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_STYLE)))
        .AddHex("exstyle", static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_EXSTYLE)))
        .Add("pid", static_cast<int64_t>(ProcessIdOf(hwnd)))
        .AddFlag("visible", IsWindowVisible(hwnd) != FALSE)
        .Add("owner", GetWindow(hwnd, GW_OWNER));
    return record;
}

Record DescribeChild(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    HWND parent = GetParent(hwnd);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    Record record;
    record.Add("hwnd", hwnd)
        .Add("parent", parent)
        .Add("class", ClassName(hwnd))
        .Add("text", WindowText(hwnd))
        .Add("id", static_cast<int64_t>(GetDlgCtrlID(hwnd)))
        .Add("rect", rect)
        .AddHex("style", static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_STYLE)))
        .AddHex("exstyle", static_cast<uint32_t>(GetWindowLongW(hwnd, GWL_EXSTYLE)))
        .AddFlag("visible", IsWindowVisible(hwnd) != FALSE)
        .AddFlag("enabled", IsWindowEnabled(hwnd) != FALSE);
    return record;
}

Record DescribeState(HWND hwnd) {
    Record record;
    record.Add("hwnd", hwnd)
        .AddFlag("exists", IsWindow(hwnd) != FALSE)
        .AddFlag("visible", IsWindowVisible(hwnd) != FALSE)
        .AddFlag("enabled", IsWindowEnabled(hwnd) != FALSE)
        .AddFlag("iconic", IsIconic(hwnd) != FALSE)
        .AddFlag("zoomed", IsZoomed(hwnd) != FALSE)
        .AddFlag("foreground", GetForegroundWindow() == hwnd);
    return record;
}

bool WaitUntil(const std::function<bool()>& found, int64_t timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (found()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
}

}  // namespace zvdriver
