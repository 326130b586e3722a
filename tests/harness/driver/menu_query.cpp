#include "menu_query.h"

#include <string>

namespace zvdriver {

namespace {

constexpr wchar_t kReplyClass[] = L"ZvDriverMenuReply";

struct ReplyBox {
    bool received = false;
    MenuAnswer answer;
};

LRESULT CALLBACK ReplyWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
        auto* box = reinterpret_cast<ReplyBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        if (box && (data->dwData == kMenuReplyFound || data->dwData == kMenuReplyNoMenu)) {
            box->received = true;
            box->answer.hasMenu = data->dwData == kMenuReplyFound;
            box->answer.lines.assign(static_cast<const char*>(data->lpData), data->cbData);
            return TRUE;
        }
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

struct HookGuard {
    HHOOK hook = nullptr;
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
    explicit HookGuard(HHOOK h) : hook(h) {}
    ~HookGuard() {
        if (hook) UnhookWindowsHookEx(hook);
    }
};

struct WindowGuard {
    HWND hwnd = nullptr;
    WindowGuard(const WindowGuard&) = delete;
    WindowGuard& operator=(const WindowGuard&) = delete;
    explicit WindowGuard(HWND h) : hwnd(h) {}
    ~WindowGuard() {
        if (hwnd) DestroyWindow(hwnd);
    }
};

std::wstring HookDllPath() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + L"zvhook.dll";
}

HWND CreateReplyWindow(ReplyBox& box) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ReplyWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kReplyClass;
        registered = RegisterClassW(&wc) != 0;
    }
    HWND hwnd = CreateWindowExW(0, kReplyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&box));
    return hwnd;
}

}  // namespace

std::optional<MenuAnswer> QueryMenu(HWND target, MenuQuery which, DWORD timeoutMs, std::string& error) {
    HMODULE dll = LoadLibraryW(HookDllPath().c_str());
    if (!dll) {
        error = "cannot load zvhook.dll next to zvdriver.exe";
        return std::nullopt;
    }
    // Through void*: FARPROC and HOOKPROC have different signatures.
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(dll, "ZvDriverCallWndProc")));
    DWORD thread = GetWindowThreadProcessId(target, nullptr);
    if (!proc || !thread) {
        error = "no hook procedure or no window thread";
        return std::nullopt;
    }
    ReplyBox box;
    WindowGuard reply(CreateReplyWindow(box));
    if (!reply.hwnd) {
        error = "cannot create the reply window";
        return std::nullopt;
    }
    HookGuard hook(SetWindowsHookExW(WH_CALLWNDPROC, proc, dll, thread));
    if (!hook.hook) {
        error = "SetWindowsHookEx failed: " + std::to_string(GetLastError());
        return std::nullopt;
    }
    // The hook answers with WM_COPYDATA while we wait inside SendMessageTimeout,
    // which dispatches messages sent to this thread.
    const UINT query = RegisterWindowMessageW(kMenuQueryMessageName);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(target, query, reinterpret_cast<WPARAM>(reply.hwnd), static_cast<LPARAM>(which),
                        SMTO_ABORTIFHUNG, timeoutMs, &ignored);
    if (!box.received) {
        error = "the window's thread did not answer the menu query";
        return std::nullopt;
    }
    return box.answer;
}

}  // namespace zvdriver
