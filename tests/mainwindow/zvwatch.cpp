// zvwatch.exe: watches one top-level window and its child controls from outside and prints
// every change with a timestamp, so a test sees a whole timeline (status texts, button
// pictures, enabled states, visibility) instead of sampling it one driver run at a time.
// Lines read from stdin post messages to the window on the same timeline:
//   post MSG WPARAM LPARAM | bmclick CONTROL_ID | settext CONTROL_ID TEXT | mark NAME | quit
// Output: one tab-separated key=value record per line (see zvdriver), each with t=<ms>.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_text.h"

using zvdriver::Print;
using zvdriver::Record;

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kMessageTimeoutMs = 500;

struct ChildState {
    HWND hwnd = nullptr;
    int id = 0;
    bool isButton = false;
    std::wstring text;
    bool enabled = false;
    bool visible = false;
    ULONG_PTR image = 0;

    bool operator==(const ChildState&) const = default;
};

struct WindowState {
    bool exists = false;
    bool visible = false;
    bool iconic = false;
    bool foreground = false;

    bool operator==(const WindowState&) const = default;
};

// Lines from stdin, handed from the reader thread to the polling loop.
struct InputQueue {
    std::mutex lock;
    std::deque<std::string> lines;
    bool closed = false;
};

ULONGLONG startTick = 0;

int64_t Now() { return static_cast<int64_t>(GetTickCount64() - startTick); }

std::wstring TextOf(HWND hwnd) {
    wchar_t text[512] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &copied)) {
        return L"<no answer>";
    }
    return std::wstring(text, copied < 512 ? copied : 511);
}

ChildState ReadChild(HWND hwnd) {
    ChildState state;
    state.hwnd = hwnd;
    state.id = GetDlgCtrlID(hwnd);
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    state.isButton = lstrcmpiW(className, L"Button") == 0;
    state.text = TextOf(hwnd);
    state.enabled = IsWindowEnabled(hwnd) != FALSE;
    state.visible = IsWindowVisible(hwnd) != FALSE;
    if (state.isButton) {
        DWORD_PTR image = 0;
        SendMessageTimeoutW(hwnd, BM_GETIMAGE, IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &image);
        state.image = image;
    }
    return state;
}

WindowState ReadWindow(HWND hwnd) {
    WindowState state;
    state.exists = IsWindow(hwnd) != FALSE;
    if (!state.exists) return state;
    state.visible = IsWindowVisible(hwnd) != FALSE;
    state.iconic = IsIconic(hwnd) != FALSE;
    state.foreground = GetForegroundWindow() == hwnd;
    return state;
}

void PrintChild(const ChildState& c) {
    Record r;
    r.Add("t", Now()).Add("kind", "child").Add("hwnd", c.hwnd).Add("id", static_cast<int64_t>(c.id));
    r.Add("text", c.text).AddFlag("enabled", c.enabled).AddFlag("visible", c.visible);
    if (c.isButton) r.AddHex("image", c.image);
    Print(r);
}

void PrintWindow(HWND hwnd, const WindowState& w) {
    Print(Record()
              .Add("t", Now())
              .Add("kind", "window")
              .Add("hwnd", hwnd)
              .AddFlag("exists", w.exists)
              .AddFlag("visible", w.visible)
              .AddFlag("iconic", w.iconic)
              .AddFlag("foreground", w.foreground));
}

std::vector<HWND> DirectChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

void ReadInput(InputQueue* queue) {
    char line[512];
    while (fgets(line, sizeof line, stdin)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->lines.push_back(text);
    }
    std::lock_guard<std::mutex> guard(queue->lock);
    queue->closed = true;
}

std::optional<int64_t> Number(const std::string& word) { return zvdriver::ParseNumber(word); }

HWND ChildWithId(HWND parent, int id) {
    for (HWND child : DirectChildren(parent))
        if (GetDlgCtrlID(child) == id) return child;
    return nullptr;
}

// Runs one input line; false means stop watching.
bool RunLine(HWND window, const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "quit") return false;
    if (verb == "mark") {
        std::string name;
        words >> name;
        Print(Record().Add("t", Now()).Add("kind", "mark").Add("name", name));
        return true;
    }
    if (verb == "post") {
        std::string msgWord, wWord, lWord;
        words >> msgWord >> wWord >> lWord;
        auto msg = Number(msgWord);
        auto wparam = Number(wWord.empty() ? "0" : wWord);
        auto lparam = Number(lWord.empty() ? "0" : lWord);
        if (!msg || !wparam || !lparam) {
            Print(Record().Add("t", Now()).Add("kind", "error").Add("line", line));
            return true;
        }
        const BOOL ok = PostMessageW(window, static_cast<UINT>(*msg), static_cast<WPARAM>(*wparam),
                                     static_cast<LPARAM>(*lparam));
        Print(Record()
                  .Add("t", Now())
                  .Add("kind", "posted")
                  .Add("msg", *msg)
                  .Add("wparam", *wparam)
                  .Add("lparam", *lparam)
                  .AddFlag("ok", ok != FALSE));
        return true;
    }
    if (verb == "bmclick") {
        std::string idWord;
        words >> idWord;
        auto id = Number(idWord);
        HWND button = id ? ChildWithId(window, static_cast<int>(*id)) : nullptr;
        const BOOL ok = button && PostMessageW(button, BM_CLICK, 0, 0);
        Print(Record().Add("t", Now()).Add("kind", "bmclick").Add("id", id.value_or(0)).AddFlag("ok", ok != FALSE));
        return true;
    }
    if (verb == "settext") {
        // WM_SETTEXT is marshalled across processes, so the text reaches the control intact.
        std::string idWord;
        words >> idWord;
        std::string text;
        std::getline(words, text);
        if (!text.empty() && text.front() == ' ') text.erase(0, 1);
        auto id = Number(idWord);
        HWND control = id ? ChildWithId(window, static_cast<int>(*id)) : nullptr;
        const std::wstring wide = zvdriver::WideFromUtf8(text);
        DWORD_PTR result = 0;
        const BOOL ok = control && SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                                                       SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) && result;
        Print(Record().Add("t", Now()).Add("kind", "settext").Add("id", id.value_or(0)).AddFlag("ok", ok != FALSE));
        return true;
    }
    Print(Record().Add("t", Now()).Add("kind", "error").Add("line", line));
    return true;
}

}  // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    startTick = GetTickCount64();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::optional<int64_t> hwndValue, maxMs = 600000;
    for (int i = 1; argv && i + 1 < argc; i += 2) {
        const std::string name = zvdriver::Utf8FromWide(argv[i]);
        const auto value = Number(zvdriver::Utf8FromWide(argv[i + 1]));
        if (name == "--hwnd") hwndValue = value;
        if (name == "--max-ms") maxMs = value;
    }
    LocalFree(argv);
    if (!hwndValue || !maxMs) {
        fprintf(stderr, "usage: zvwatch --hwnd H [--max-ms N]\n");
        return 2;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(*hwndValue));
    if (!IsWindow(window)) {
        fprintf(stderr, "zvwatch: no window %s\n", zvdriver::FormatHwnd(window).c_str());
        return 1;
    }

    auto* input = new InputQueue;  // outlives main: the reader may still sit in fgets at exit
    std::thread(ReadInput, input).detach();

    std::vector<ChildState> children;
    for (HWND child : DirectChildren(window)) children.push_back(ReadChild(child));
    WindowState windowState = ReadWindow(window);
    PrintWindow(window, windowState);
    for (const ChildState& child : children) PrintChild(child);
    Print(Record().Add("t", Now()).Add("kind", "ready"));

    while (Now() < *maxMs) {
        std::deque<std::string> lines;
        bool inputClosed = false;
        {
            std::lock_guard<std::mutex> guard(input->lock);
            lines.swap(input->lines);
            inputClosed = input->closed;
        }
        for (const std::string& line : lines)
            if (!RunLine(window, line)) return 0;

        const WindowState now = ReadWindow(window);
        if (!(now == windowState)) {
            windowState = now;
            PrintWindow(window, now);
        }
        if (!now.exists) return 0;
        for (ChildState& child : children) {
            if (!IsWindow(child.hwnd)) continue;
            ChildState fresh = ReadChild(child.hwnd);
            if (!(fresh == child)) {
                child = fresh;
                PrintChild(child);
            }
        }
        if (inputClosed) return 0;
        Sleep(kPollMs);
    }
    Print(Record().Add("t", Now()).Add("kind", "timeout"));
    return 0;
}
