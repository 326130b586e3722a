#include "driver_commands.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "driver_capture.h"
#include "driver_text.h"
#include "driver_windows.h"
#include "menu_query.h"

namespace zvdriver {

namespace {

constexpr int64_t kDefaultTimeoutMs = 5000;
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kPopupMenuClass[] = L"#32768";
constexpr int kMessageBoxTextId = 0xFFFF;  // the static holding a message box's text

int Fail(const std::string& message) {
    fprintf(stderr, "zvdriver: %s\n", message.c_str());
    return kExitFailed;
}

int Usage(const std::string& message) {
    fprintf(stderr, "zvdriver: %s\n", message.c_str());
    return kExitUsage;
}

// A required numeric option; on error `code` holds the exit code to return.
bool RequireNumber(const DriverArgs& args, const char* name, int64_t& value, int& code) {
    if (!HasOption(args, name)) {
        code = Usage(std::string("missing --") + name);
        return false;
    }
    auto number = NumberOption(args, name, 0);
    if (!number) {
        code = Usage(std::string("--") + name + " is not a number");
        return false;
    }
    value = *number;
    return true;
}

bool RequireWindow(const DriverArgs& args, HWND& hwnd, int& code) {
    int64_t value = 0;
    if (!RequireNumber(args, "hwnd", value, code)) return false;
    hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
    if (!IsWindow(hwnd)) {
        code = Fail("no window " + FormatHwnd(hwnd));
        return false;
    }
    return true;
}

bool ReadTimeout(const DriverArgs& args, int64_t& timeoutMs, int& code) {
    auto value = NumberOption(args, "timeout-ms", kDefaultTimeoutMs);
    if (!value || *value < 0) {
        code = Usage("--timeout-ms must be a non-negative number");
        return false;
    }
    timeoutMs = *value;
    return true;
}

bool ReadOptionalPid(const DriverArgs& args, DWORD& pid, int& code) {
    auto value = NumberOption(args, "pid", 0);
    if (!value) {
        code = Usage("--pid is not a number");
        return false;
    }
    pid = static_cast<DWORD>(*value);
    return true;
}

bool Flag(const DriverArgs& args, const char* name) {
    auto value = Option(args, name);
    return value && *value != "0";
}

struct WindowFilter {
    std::optional<std::wstring> title;
    std::optional<std::wstring> className;
    DWORD pid = 0;
    bool visibleOnly = false;
};

bool Matches(HWND hwnd, const WindowFilter& filter) {
    if (filter.visibleOnly && !IsWindowVisible(hwnd)) return false;
    if (filter.pid && ProcessIdOf(hwnd) != filter.pid) return false;
    if (filter.className && ClassName(hwnd) != *filter.className) return false;
    if (filter.title && Caption(hwnd) != *filter.title) return false;
    return true;
}

HWND FindTopLevel(const WindowFilter& filter) {
    for (HWND hwnd : TopLevelWindows()) {
        if (Matches(hwnd, filter)) return hwnd;
    }
    return nullptr;
}

bool ReadFilter(const DriverArgs& args, WindowFilter& filter, int& code) {
    if (auto title = Option(args, "title")) filter.title = WideFromUtf8(*title);
    if (auto name = Option(args, "class")) filter.className = WideFromUtf8(*name);
    filter.visibleOnly = Flag(args, "visible");
    return ReadOptionalPid(args, filter.pid, code);
}

int RunFind(const DriverArgs& args) {
    int code = 0;
    int64_t timeoutMs = 0;
    WindowFilter filter;
    if (!ReadTimeout(args, timeoutMs, code) || !ReadFilter(args, filter, code)) return code;
    if (!filter.title && !filter.className) return Usage("find needs --title or --class");
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopLevel(filter)) != nullptr; }, timeoutMs);
    if (!found) return Fail("no matching window within " + std::to_string(timeoutMs) + " ms");
    Print(DescribeTopLevel(found));
    return kExitOk;
}

int RunWaitGone(const DriverArgs& args) {
    int code = 0;
    int64_t timeoutMs = 0, value = 0;
    if (!ReadTimeout(args, timeoutMs, code) || !RequireNumber(args, "hwnd", value, code)) return code;
    HWND hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(value));
    if (!WaitUntil([&] { return !IsWindow(hwnd); }, timeoutMs)) return Fail("window still exists");
    Print(Record().Add("hwnd", hwnd).Add("gone", "1"));
    return kExitOk;
}

int RunChildren(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    if (!RequireWindow(args, hwnd, code)) return code;
    for (HWND child : ChildWindows(hwnd, Flag(args, "all"))) {
        std::string error;
        auto font = QueryMenu(child, MenuQuery::Font, 2000, error);
        if (!font) return Fail(error);
        Print(DescribeChild(child).Add("font", font->lines));
    }
    return kExitOk;
}

int PrintMenu(HWND hwnd, MenuQuery which, int64_t timeoutMs) {
    std::string error;
    auto answer = QueryMenu(hwnd, which, static_cast<DWORD>(timeoutMs), error);
    if (!answer) return Fail(error);
    if (!answer->hasMenu) return Fail("the window has no such menu");
    fwrite(answer->lines.data(), 1, answer->lines.size(), stdout);
    fflush(stdout);
    return kExitOk;
}

int RunMenu(const DriverArgs& args) {
    int code = 0;
    int64_t timeoutMs = 0;
    HWND hwnd = nullptr;
    if (!ReadTimeout(args, timeoutMs, code) || !RequireWindow(args, hwnd, code)) return code;
    MenuQuery which = Option(args, "which").value_or("bar") == "system" ? MenuQuery::SystemMenu : MenuQuery::MenuBar;
    return PrintMenu(hwnd, which, timeoutMs);
}

int RunPopupMenu(const DriverArgs& args) {
    int code = 0;
    int64_t timeoutMs = 0;
    if (!ReadTimeout(args, timeoutMs, code)) return code;
    WindowFilter filter;
    filter.className = kPopupMenuClass;
    filter.visibleOnly = true;
    HWND popup = nullptr;
    WaitUntil([&] { return (popup = FindTopLevel(filter)) != nullptr; }, timeoutMs);
    if (!popup) return Fail("no popup menu is shown");
    Print(DescribeTopLevel(popup).Add("kind", "popup"));
    return PrintMenu(popup, MenuQuery::PopupWindow, timeoutMs);
}

int RunText(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    if (!RequireWindow(args, hwnd, code)) return code;
    Print(Record().Add("hwnd", hwnd).Add("text", WindowText(hwnd)));
    return kExitOk;
}

bool ReadMessage(const DriverArgs& args, HWND& hwnd, int64_t& msg, int64_t& wp, int64_t& lp, int& code) {
    if (!RequireWindow(args, hwnd, code) || !RequireNumber(args, "msg", msg, code)) return false;
    auto wparam = NumberOption(args, "wparam", 0);
    auto lparam = NumberOption(args, "lparam", 0);
    if (!wparam || !lparam) {
        code = Usage("--wparam/--lparam must be numbers");
        return false;
    }
    wp = *wparam;
    lp = *lparam;
    return true;
}

int RunSend(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    int64_t msg = 0, wp = 0, lp = 0, timeoutMs = 0;
    if (!ReadTimeout(args, timeoutMs, code) || !ReadMessage(args, hwnd, msg, wp, lp, code)) return code;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp),
                             SMTO_ABORTIFHUNG, static_cast<UINT>(timeoutMs), &result)) {
        return Fail("SendMessageTimeout failed or timed out, error " + std::to_string(GetLastError()));
    }
    Print(Record().Add("hwnd", hwnd).Add("result", static_cast<int64_t>(result)).AddHex("result_hex", result));
    return kExitOk;
}

int Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (!PostMessageW(hwnd, msg, wp, lp)) return Fail("PostMessage failed, error " + std::to_string(GetLastError()));
    Print(Record().Add("hwnd", hwnd).Add("posted", static_cast<int64_t>(msg)));
    return kExitOk;
}

int RunPost(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    int64_t msg = 0, wp = 0, lp = 0;
    if (!ReadMessage(args, hwnd, msg, wp, lp, code)) return code;
    return Post(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp));
}

int RunCommand(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    int64_t id = 0;
    if (!RequireWindow(args, hwnd, code) || !RequireNumber(args, "id", id, code)) return code;
    return Post(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
}

int RunClose(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    if (!RequireWindow(args, hwnd, code)) return code;
    return Post(hwnd, WM_CLOSE, 0, 0);
}

POINT CentreOnScreen(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

int ClickWithInput(HWND hwnd) {
    POINT centre = CentreOnScreen(hwnd);
    SetForegroundWindow(GetAncestor(hwnd, GA_ROOT));
    SetCursorPos(centre.x, centre.y);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    if (SendInput(2, inputs, sizeof(INPUT)) != 2) return Fail("SendInput failed");
    Print(Record().Add("hwnd", hwnd).Add("clicked", "input").Add("x", centre.x).Add("y", centre.y));
    return kExitOk;
}

int RunClick(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    if (!RequireWindow(args, hwnd, code)) return code;
    if (Flag(args, "real")) return ClickWithInput(hwnd);
    // Posted, not sent: a click that opens a modal box would block a SendMessage.
    if (!PostMessageW(hwnd, BM_CLICK, 0, 0)) return Fail("PostMessage(BM_CLICK) failed");
    Print(Record().Add("hwnd", hwnd).Add("clicked", "bm_click"));
    return kExitOk;
}

std::optional<int> ButtonIdForName(const std::string& name) {
    static const struct {
        const char* name;
        int id;
    } kButtons[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                    {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO}, {"close", IDCLOSE}};
    for (const auto& button : kButtons) {
        if (name == button.name) return button.id;
    }
    return std::nullopt;
}

void PrintDialog(HWND dialog) {
    std::wstring text;
    for (HWND child : ChildWindows(dialog, false)) {
        if (ClassName(child) == L"Static" && GetDlgCtrlID(child) == kMessageBoxTextId) text = WindowText(child);
    }
    Print(DescribeTopLevel(dialog).Add("kind", "dialog").Add("text", text));
    for (HWND child : ChildWindows(dialog, false)) {
        if (ClassName(child) != L"Button") continue;
        Print(Record()
                  .Add("kind", "button")
                  .Add("hwnd", child)
                  .Add("id", static_cast<int64_t>(GetDlgCtrlID(child)))
                  .Add("text", WindowText(child)));
    }
}

int RunMsgbox(const DriverArgs& args) {
    int code = 0;
    int64_t timeoutMs = 0;
    WindowFilter filter;
    if (!ReadTimeout(args, timeoutMs, code) || !ReadFilter(args, filter, code)) return code;
    filter.className = kDialogClass;
    filter.visibleOnly = true;
    std::optional<int> pressId;
    if (auto press = Option(args, "press")) {
        pressId = ButtonIdForName(*press);
        if (!pressId) return Usage("--press takes ok|cancel|yes|no|abort|retry|ignore|close");
    }
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = FindTopLevel(filter)) != nullptr; }, timeoutMs);
    if (!dialog) return Fail("no dialog within " + std::to_string(timeoutMs) + " ms");
    PrintDialog(dialog);
    if (!pressId) return kExitOk;
    HWND button = GetDlgItem(dialog, *pressId);
    if (!button) return Fail("the dialog has no button with id " + std::to_string(*pressId));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(*pressId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    Print(Record().Add("kind", "pressed").Add("id", static_cast<int64_t>(*pressId)));
    return kExitOk;
}

int RunWindows(const DriverArgs& args) {
    int code = 0;
    WindowFilter filter;
    if (!ReadFilter(args, filter, code)) return code;
    for (HWND hwnd : TopLevelWindows()) {
        if (Matches(hwnd, filter)) Print(DescribeTopLevel(hwnd));
    }
    return kExitOk;
}

int RunState(const DriverArgs& args) {
    int code = 0;
    int64_t value = 0;
    if (!RequireNumber(args, "hwnd", value, code)) return code;
    Print(DescribeState(reinterpret_cast<HWND>(static_cast<intptr_t>(value))));
    return kExitOk;
}

int RunBitmap(const DriverArgs& args) {
    int code = 0;
    HWND hwnd = nullptr;
    if (!RequireWindow(args, hwnd, code)) return code;
    const bool icon = Option(args, "image").value_or("bitmap") == "icon";
    const bool isStatic = ClassName(hwnd) == L"Static";
    const UINT msg = isStatic ? STM_GETIMAGE : BM_GETIMAGE;
    DWORD_PTR image = 0;
    if (!SendMessageTimeoutW(hwnd, msg, icon ? IMAGE_ICON : IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, 2000, &image)) {
        return Fail("the control did not answer");
    }
    Print(Record().Add("hwnd", hwnd).AddHex("image", image));
    return kExitOk;
}

int RunCapture(const DriverArgs& args) {
    int code = 0;
    int64_t x = 0, y = 0, w = 0, h = 0;
    if (!RequireNumber(args, "x", x, code) || !RequireNumber(args, "y", y, code) ||
        !RequireNumber(args, "w", w, code) || !RequireNumber(args, "h", h, code)) {
        return code;
    }
    auto out = Option(args, "out");
    if (!out) return Usage("missing --out");
    RECT region{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + w), static_cast<LONG>(y + h)};
    std::string error = CaptureScreenToBmp(region, WideFromUtf8(*out));
    if (!error.empty()) return Fail(error);
    Print(Record().Add("out", *out).Add("w", w).Add("h", h));
    return kExitOk;
}

int RunCursor(const DriverArgs&) {
    POINT point{};
    GetCursorPos(&point);
    Print(Record().Add("x", point.x).Add("y", point.y).Add("foreground", GetForegroundWindow()));
    return kExitOk;
}

int RunTerminate(const DriverArgs& args) {
    int code = 0;
    int64_t pid = 0, exitCode = 0;
    if (!RequireNumber(args, "pid", pid, code)) return code;
    auto exitOption = NumberOption(args, "exit-code", 1);
    if (!exitOption) return Usage("--exit-code is not a number");
    exitCode = *exitOption;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (!process) return Fail("cannot open process " + std::to_string(pid));
    BOOL ok = TerminateProcess(process, static_cast<UINT>(exitCode));
    CloseHandle(process);
    if (!ok) return Fail("TerminateProcess failed");
    Print(Record().Add("pid", pid).Add("terminated", "1"));
    return kExitOk;
}

const CommandEntry kCommands[] = {
    {"find", RunFind, "find --title T [--class C] [--pid P] [--visible 1] [--timeout-ms N]"},
    {"wait-gone", RunWaitGone, "wait-gone --hwnd H [--timeout-ms N]"},
    {"children", RunChildren, "children --hwnd H [--all 1]"},
    {"menu", RunMenu, "menu --hwnd H [--which bar|system] [--timeout-ms N]"},
    {"popup-menu", RunPopupMenu, "popup-menu [--timeout-ms N]"},
    {"text", RunText, "text --hwnd H"},
    {"send", RunSend, "send --hwnd H --msg N [--wparam N] [--lparam N] [--timeout-ms N]"},
    {"post", RunPost, "post --hwnd H --msg N [--wparam N] [--lparam N]"},
    {"command", RunCommand, "command --hwnd H --id N"},
    {"close", RunClose, "close --hwnd H"},
    {"click", RunClick, "click --hwnd H [--real 1]"},
    {"msgbox", RunMsgbox, "msgbox [--title T] [--pid P] [--press ok|cancel|yes|no] [--timeout-ms N]"},
    {"windows", RunWindows, "windows [--pid P] [--title T] [--class C] [--visible 1]"},
    {"state", RunState, "state --hwnd H"},
    {"bitmap", RunBitmap, "bitmap --hwnd H [--image bitmap|icon]"},
    {"capture", RunCapture, "capture --x X --y Y --w W --h H --out FILE.bmp"},
    {"cursor", RunCursor, "cursor"},
    {"terminate", RunTerminate, "terminate --pid P [--exit-code N]"},
};

}  // namespace

const CommandEntry* Commands(size_t& count) {
    count = std::size(kCommands);
    return kCommands;
}

}  // namespace zvdriver
